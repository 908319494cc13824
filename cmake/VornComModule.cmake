# vorncom_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [QT])
# One GoogleTest executable per suite, registered with CTest and labelled.
include(GoogleTest)
find_package(GTest REQUIRED)

function(vorncom_add_test)
  cmake_parse_arguments(T "QT" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest)
  if(NOT T_QT)
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
  endif()
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    VORNCOM_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  # PRE_TEST: discovery runs with the test environment (offscreen platform, temp folders).
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES
    PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "VORNCOM_UNATTENDED=1;QT_QPA_PLATFORM=offscreen"
    DISCOVERY_TIMEOUT 60)
endfunction()

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
  # PRE_TEST: discovery runs with the test environment. The property list takes one environment
  # entry only (a second would be split off as a property name), so Qt test mains choose the
  # offscreen platform themselves.
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES
    PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "VORNCOM_UNATTENDED=1"
    DISCOVERY_TIMEOUT 60)
endfunction()

# vorncom_add_c_host(NAME name SOURCES ...)
# A host program written in C that loads the client library with dlopen. Under the sanitizers it
# is linked as C++, so that the runtime's C++ half (which the library's checks call) is there.
function(vorncom_add_c_host)
  cmake_parse_arguments(H "" "NAME" "SOURCES" ${ARGN})
  add_executable(${H_NAME} ${H_SOURCES})
  target_include_directories(${H_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${H_NAME} PRIVATE ${CMAKE_DL_LIBS})
  add_dependencies(${H_NAME} VornComClient)
  if(VORNCOM_FUZZ)
    set_target_properties(${H_NAME} PROPERTIES LINKER_LANGUAGE CXX)
  endif()
endfunction()

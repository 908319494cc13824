#include "journal/send_journal.h"

#include <gtest/gtest.h>

#include <vector>

#include "journal/journal_fixture.h"

namespace vorncom::journal {
namespace {

using S = SendState;
constexpr const char* kNumber = "2026.0001234";

// Each row moves a fresh send (begun uploading) through `moves`; the last move is allowed or not,
// and the send is then open (found) or over.
TEST(SendJournal, StateMovesAndWhatStaysOpen) {
  const struct {
    std::vector<S> moves;
    bool last_allowed;
    bool open_after;
  } rows[] = {
      {{S::kProtocolating, S::kRegistered, S::kStamped}, true, false},
      {{S::kAbandoned}, true, false},
      {{S::kUploading, S::kProtocolating, S::kUploading, S::kProtocolating}, true, true},
      {{S::kProtocolating, S::kRegistered}, true, true},
      // A send in doubt is never dropped, nor registered without its Protocolate recorded.
      {{S::kProtocolating, S::kAbandoned}, false, true},
      {{S::kRegistered}, false, true},
      {{S::kProtocolating, S::kRegistered, S::kUploading}, false, true},
      {{S::kAbandoned, S::kUploading}, false, false},
      {{S::kProtocolating, S::kRegistered, S::kStamped, S::kRegistered}, false, false},
  };
  for (size_t r = 0; r < std::size(rows); ++r) {
    testing::TempDir dir;
    SendJournal journal(dir / "envios.db");
    const int64_t id = journal.Begin(PackageSend());
    const auto& moves = rows[r].moves;
    for (size_t m = 0; m + 1 < moves.size(); ++m) journal.Update(id, moves[m], "", "", kNumber);
    if (rows[r].last_allowed) {
      EXPECT_NO_THROW(journal.Update(id, moves.back(), "", "", kNumber)) << r;
    } else {
      EXPECT_THROW(journal.Update(id, moves.back(), "", "", kNumber), EJournalError) << r;
    }
    const auto open = journal.FindOpen(kPackageSha, 4096, "DIRF2026.qev");
    EXPECT_EQ(open.has_value(), rows[r].open_after) << r;
  }
}

TEST(SendJournal, FindOpenGivesTheNewestOpenSendOfThatContent) {
  testing::TempDir dir;
  SendJournal journal(dir / "envios.db");
  const int64_t older = journal.Begin(PackageSend());
  const int64_t newer = journal.Begin(PackageSend());
  const int64_t abandoned = journal.Begin(PackageSend());
  journal.Update(abandoned, S::kAbandoned);
  journal.Update(newer, S::kUploading, "a.vorn.gov:211", "U-1");
  journal.Update(newer, S::kProtocolating);  // empty texts keep the stored ones

  const auto found = journal.FindOpen(kPackageSha, 4096, "DIRF2026.qev");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->id, newer);
  EXPECT_EQ(found->state, S::kProtocolating);
  EXPECT_EQ(found->server, "a.vorn.gov:211");
  EXPECT_EQ(found->upload_id, "U-1");
  EXPECT_EQ(found->package_path, "/home/ana/Trabalho/DIRF2026.qev");
  EXPECT_EQ(found->updated.size(), 19u);
  EXPECT_FALSE(journal.FindOpen(kPackageSha, 4097, "DIRF2026.qev"));
  EXPECT_FALSE(journal.FindOpen(kPackageSha, 4096, "DIRF2025.qev"));
  EXPECT_FALSE(journal.FindOpen(std::string(64, 'b'), 4096, "DIRF2026.qev"));
  EXPECT_EQ(journal.Sends().size(), 3u);

  // What was written is there for another process opening the file afterwards.
  SendJournal reopened(dir / "envios.db");
  EXPECT_EQ(reopened.FindOpen(kPackageSha, 4096, "DIRF2026.qev")->id, newer);
  reopened.Update(newer, S::kRegistered, "", "", kNumber);
  reopened.Update(newer, S::kStamped);
  EXPECT_EQ(journal.FindOpen(kPackageSha, 4096, "DIRF2026.qev")->id, older);
}

TEST(SendJournal, RefusesWhatNoSendCanBe) {
  testing::TempDir dir;
  SendJournal journal(dir / "envios.db");
  SendRecord bad_sha = PackageSend();
  bad_sha.sha256 = std::string(64, 'A');
  SendRecord bad_size = PackageSend();
  bad_size.size = -1;
  EXPECT_THROW(journal.Begin(bad_sha), EJournalError);
  EXPECT_THROW(journal.Begin(bad_size), EJournalError);
  EXPECT_THROW(journal.Update(99, S::kProtocolating), EJournalError);
  const int64_t id = journal.Begin(PackageSend());
  journal.Update(id, S::kProtocolating);
  EXPECT_THROW(journal.Update(id, S::kRegistered), EJournalError);  // no protocol number
  EXPECT_TRUE(journal.Sends().at(0).protocol_number.empty());
}

}  // namespace
}  // namespace vorncom::journal

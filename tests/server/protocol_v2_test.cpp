// Version 2 of the wire protocol against the server, spoken frame by frame: negotiation,
// pipelined requests, resumable uploads across dropped connections and a killed server, and
// registrations found again.
#include <fcntl.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "rpc/reception_server.h"
#include "rpc/transport.h"
#include "rpc/wire.h"
#include "server/upload_digest.h"
#include "server_fixture.h"

namespace vorncom::testing {
namespace {

namespace fs = std::filesystem;
namespace wire = rpc::wire;
using Clock = std::chrono::steady_clock;

// A client written against the frames alone, over plain TCP or TLS. Requests may be sent
// without waiting for their answers.
class FramePeer {
 public:
  FramePeer(uint16_t port, bool tls) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
      throw std::runtime_error("connect");
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    transport_ = tls ? rpc::MakeTlsTransport(fd, TestTransport(), "127.0.0.1", true, Deadline())
                     : rpc::MakePlainTransport(fd);
    if (!transport_) throw std::runtime_error("handshake");
  }

  // The answer to a hello offering `version`: a hello or an error frame.
  wire::Frame Hello(uint32_t version) {
    Write(wire::EncodeFrame(wire::Hello{version, rpc::kServerGUID, rpc::kServerName}));
    return Read();
  }
  // Sends a request without reading its answer; returns its seq.
  uint32_t Post(const std::string& method, std::vector<Variant> args) {
    Write(wire::EncodeFrame(wire::Request{++seq_, method, std::move(args)}));
    return seq_;
  }
  wire::Frame Read() {
    while (in_.size() < wire::kHeaderSize || in_.size() < wire::kHeaderSize + BodySize()) Fill();
    const size_t n = BodySize();
    wire::Frame frame = wire::DecodeBody(std::span(in_).subspan(wire::kHeaderSize, n));
    in_.erase(in_.begin(), in_.begin() + static_cast<ptrdiff_t>(wire::kHeaderSize + n));
    return frame;
  }
  // A whole call: its result, or throws its error frame's message.
  Variant Call(const std::string& method, std::vector<Variant> args = {}) {
    const uint32_t seq = Post(method, std::move(args));
    return ResultOf(Read(), seq);
  }
  // Protocolate: the protocol data the server wrote back.
  Variant Protocolate() {
    const uint32_t seq = Post("Protocolate", {Variant::Array(1, 14)});
    const wire::Frame frame = Read();
    ResultOf(frame, seq);
    const auto& by_ref = std::get<wire::Reply>(frame).by_ref;
    if (by_ref.size() != 1 || by_ref[0].first != 0) throw std::runtime_error("no protocol data");
    return by_ref[0].second;
  }
  static Variant ResultOf(const wire::Frame& frame, uint32_t seq) {
    if (const auto* e = std::get_if<wire::Error>(&frame)) {
      EXPECT_EQ(e->seq, seq);
      throw std::runtime_error(e->message);
    }
    const auto& reply = std::get<wire::Reply>(frame);
    EXPECT_EQ(reply.seq, seq);
    return reply.result;
  }
  bool Closed() {
    try {
      Fill();
    } catch (const std::exception&) {
      return true;
    }
    return false;
  }

 private:
  static Clock::time_point Deadline() { return Clock::now() + std::chrono::seconds(20); }
  size_t BodySize() const {
    return wire::ParseHeader(std::span<const uint8_t, 4>(in_.data(), 4), 16 << 20);
  }
  void Write(const std::vector<uint8_t>& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      const iovec part{const_cast<uint8_t*>(bytes.data() + done), bytes.size() - done};
      const auto p = transport_->Send(std::span(&part, 1));
      if (p.error != 0) throw std::runtime_error("send");
      done += p.bytes;
      if (p.bytes == 0 && !rpc::WaitForSocket(transport_->fd(), p.wait, Deadline()))
        throw std::runtime_error("send timeout");
    }
  }
  void Fill() {
    uint8_t buffer[64 << 10];
    for (;;) {
      const auto p = transport_->Receive(buffer);
      if (p.closed || p.error != 0) throw std::runtime_error("closed");
      if (p.bytes > 0) {
        in_.insert(in_.end(), buffer, buffer + p.bytes);
        return;
      }
      if (!rpc::WaitForSocket(transport_->fd(), p.wait, Deadline()))
        throw std::runtime_error("receive timeout");
    }
  }

  std::unique_ptr<rpc::Transport> transport_;
  std::vector<uint8_t> in_;
  uint32_t seq_ = 0;
};

Variant Bytes(const std::vector<uint8_t>& bytes, size_t from, size_t n) {
  return Variant(
      ByteArray{1, std::vector<uint8_t>(bytes.begin() + static_cast<ptrdiff_t>(from),
                                        bytes.begin() + static_cast<ptrdiff_t>(from + n))});
}

// A version-2 session up to the point where an upload of `name` (`size` bytes) may start.
std::unique_ptr<FramePeer> SendSession(uint16_t port, const std::string& name, size_t size,
                                       bool tls = false) {
  auto peer = std::make_unique<FramePeer>(port, tls);
  EXPECT_EQ(std::get<wire::Hello>(peer->Hello(2)).version, 2u);
  peer->Call("SendControlPacket",
             {rpc::BuildControlPacket("IRPF", "2.0", name, static_cast<double>(size),
                                      rpc::Operation::kSend, "127.0.0.1")});
  peer->Call("CheckServerStatus", {Variant(0)});
  return peer;
}

// Sends the packets of `bytes` from `from` (a multiple of `packet`) up to `to`, each answered
// before the next.
void SendPackets(FramePeer& peer, const std::vector<uint8_t>& bytes, size_t from, size_t to,
                 size_t packet) {
  for (size_t at = from; at < to; at += packet) {
    const size_t n = std::min(packet, bytes.size() - at);
    peer.Call("SendDataPacket", {Bytes(bytes, at, n), Variant(static_cast<int32_t>(n))});
  }
}

std::string Sha256Of(const std::string& path) { return *server::Sha256OfFile(path); }

// Runs `sql` on a server's registry from outside, as an operator (or the clock) would.
void AlterRegistry(const std::string& data_folder, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((data_folder + "/registry.db").c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

TEST(ProtocolV2Test, HelloSettlesTheLowerVersion) {
  struct Row {
    uint32_t max_version, offer;
    uint32_t answer;  // 0: refused with seq 0 and closed
  };
  const Row rows[] = {{2, 1, 1}, {2, 2, 2}, {2, 3, 2}, {1, 1, 1}, {1, 2, 0}, {1, 3, 0}, {2, 0, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE("max " + std::to_string(row.max_version) + ", offer " + std::to_string(row.offer));
    TestServer server("max_protocol_version = " + std::to_string(row.max_version) + "\n", "",
                      false);
    FramePeer peer(server.port(), false);
    const wire::Frame answer = peer.Hello(row.offer);
    if (row.answer == 0) {
      const auto* error = std::get_if<wire::Error>(&answer);
      ASSERT_NE(error, nullptr);
      EXPECT_EQ(error->seq, 0u);
      EXPECT_TRUE(peer.Closed());
      continue;
    }
    ASSERT_EQ(std::get<wire::Hello>(answer).version, row.answer);
    // The version-2 calls exist in version-2 sessions only; elsewhere they fail alone.
    bool known = true;
    try {
      peer.Call("FindRegistration", {Variant(""), Variant(""), Variant(0.0), Variant("X")});
    } catch (const std::runtime_error& e) {
      known = std::string(e.what()).find("desconhecido") == std::string::npos;
    }
    EXPECT_EQ(known, row.answer == 2);
    EXPECT_EQ(peer.Call("CheckFormStatus"), Variant(1));
  }
}

// A client may write all its packets, the check and the registration before reading a single
// answer; the server answers each in order and stores the upload whole.
TEST(ProtocolV2Test, PipelinedRequestsAreAnsweredInOrder) {
  TempFolder client;
  const std::string package = MakePackage(client.path(), "PIPE.ZIP", 4'300'000, 21);
  const std::vector<uint8_t> bytes = ReadFile(package);
  constexpr size_t kPacket = 65536;
  ASSERT_GE(bytes.size(), 63 * kPacket);
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "plain");
    TestServer server("packet_size = 65536\nresume_sync_bytes = 1048576\n", "", tls);
    auto peer = SendSession(server.port(), "PIPE.ZIP", bytes.size(), tls);
    peer->Call("StartUpload", {Variant("PIPE.ZIP"), Variant(static_cast<double>(bytes.size())),
                               Variant(Sha256Of(package))});
    std::vector<uint32_t> sent;
    for (size_t at = 0; at < bytes.size(); at += kPacket) {
      const size_t n = std::min(kPacket, bytes.size() - at);
      sent.push_back(
          peer->Post("SendDataPacket", {Bytes(bytes, at, n), Variant(static_cast<int32_t>(n))}));
    }
    sent.push_back(peer->Post("ValidFile", {Variant(0)}));
    sent.push_back(peer->Post("Protocolate", {Variant::Array(1, 14)}));
    for (const uint32_t seq : sent) {
      const wire::Frame frame = peer->Read();
      const auto* reply = std::get_if<wire::Reply>(&frame);
      ASSERT_NE(reply, nullptr) << seq;
      ASSERT_EQ(reply->seq, seq);
      if (seq == sent[sent.size() - 2]) {
        EXPECT_EQ(reply->result, Variant(true));
      }
    }
    const auto stored = server.StoredFiles();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_TRUE(ReadFile(stored[0].string()) == bytes);
  }
}

// A refused packet ends the upload, so the packets pipelined behind it cannot land in its place.
TEST(ProtocolV2Test, ARefusedPacketFailsThePipelineBehindIt) {
  TestServer server("packet_size = 100\n", "", false);
  const std::vector<uint8_t> bytes(300, 'x');
  auto peer = SendSession(server.port(), "F.ZIP", bytes.size());
  peer->Call("SendFile", {Variant("F.ZIP")});
  const std::vector<uint32_t> seqs = {
      peer->Post("SendDataPacket", {Bytes(bytes, 0, 100), Variant(100)}),
      peer->Post("SendDataPacket", {Bytes(bytes, 100, 100), Variant(101)}),
      peer->Post("SendDataPacket", {Bytes(bytes, 200, 100), Variant(100)}),
      peer->Post("ValidFile", {Variant(0)})};
  const char expected[] = "REEE";
  for (size_t i = 0; i < seqs.size(); ++i) {
    const wire::Frame frame = peer->Read();
    const auto* error = std::get_if<wire::Error>(&frame);
    EXPECT_EQ(error ? 'E' : 'R', expected[i]) << i;
    EXPECT_EQ(error ? error->seq : std::get<wire::Reply>(frame).seq, seqs[i]);
  }
  EXPECT_TRUE(server.IncomingFiles().empty());
}

// vorncom-server as a child process, so that it can be killed without a chance to clean up.
class ServerProcess {
 public:
  ServerProcess(const TempFolder& folder, const std::string& config_text) {
    const std::string config = folder / "server.cfg", port_file = folder / "port";
    fs::remove(port_file);
    std::ofstream(config) << "listen_address = 127.0.0.1\nlog_sessions = false\ndata_folder = "
                          << (folder / "data") << "\n"
                          << config_text;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl(VORNCOM_SERVER, VORNCOM_SERVER, "--config", config.c_str(), "--port", "0",
              "--port-file", port_file.c_str(), nullptr);
      ::_exit(127);
    }
    for (int i = 0; i < 500 && port_ == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::ifstream(port_file) >> port_;
    }
    if (port_ == 0) throw std::runtime_error("the server did not start");
  }
  ~ServerProcess() { Kill(SIGTERM); }
  void Kill(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  uint16_t port() const { return port_; }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

// ResumeUpload, retried while the session that carried the upload is still letting go of it.
double Resume(FramePeer& peer, const std::string& id) {
  for (int attempt = 0;; ++attempt) {
    try {
      return peer.Call("ResumeUpload", {Variant(id)}).ToDouble();
    } catch (const std::runtime_error& e) {
      if (attempt == 50 || std::string(e.what()).find("outra conexão") == std::string::npos) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

// An upload goes on after its connection dropped, after the server stopped and after it was
// killed: the count the server gives is never more than was sent, and the stored file is the
// client's, byte for byte.
TEST(ProtocolV2Test, UploadsResumeAfterADropAndAKilledServer) {
  TempFolder folder, client;
  const std::string package = MakePackage(client.path(), "R.ZIP", 900'000, 22);
  const std::vector<uint8_t> bytes = ReadFile(package);
  constexpr size_t kPacket = 16384;
  const std::string config = "packet_size = 16384\nresume_sync_bytes = 65536\n";
  auto server = std::make_unique<ServerProcess>(folder, config);

  auto peer = SendSession(server->port(), "R.ZIP", bytes.size());
  const std::string id =
      peer->Call("StartUpload", {Variant("R.ZIP"), Variant(static_cast<double>(bytes.size())),
                                 Variant(Sha256Of(package))})
          .ToString();
  EXPECT_TRUE(server::IsUploadIdText(id)) << id;
  size_t sent = 20 * kPacket + 0;
  SendPackets(*peer, bytes, 0, sent, kPacket);
  peer.reset();  // the link drops; the server flushes what it had

  peer = SendSession(server->port(), "R.ZIP", bytes.size());
  const double after_drop = Resume(*peer, id);
  EXPECT_EQ(after_drop, static_cast<double>(sent));
  SendPackets(*peer, bytes, sent, 30 * kPacket, kPacket);
  sent = 30 * kPacket;
  server->Kill(SIGTERM);  // a server stopping in order keeps what it was sent
  peer.reset();

  server = std::make_unique<ServerProcess>(folder, config);
  peer = SendSession(server->port(), "R.ZIP", bytes.size());
  EXPECT_EQ(Resume(*peer, id), static_cast<double>(sent));
  SendPackets(*peer, bytes, sent, 40 * kPacket, kPacket);
  sent = 40 * kPacket;
  server->Kill(SIGKILL);
  peer.reset();

  std::ofstream(folder / "data/incoming/upload-7.part") << "a SendFile upload cut by the kill";
  server = std::make_unique<ServerProcess>(folder, config);
  EXPECT_FALSE(fs::exists(folder / "data/incoming/upload-7.part"));
  peer = SendSession(server->port(), "R.ZIP", bytes.size());
  const double after_kill = Resume(*peer, id);
  EXPECT_LE(after_kill, static_cast<double>(sent));
  EXPECT_GE(after_kill, 30.0 * kPacket);
  SendPackets(*peer, bytes, static_cast<size_t>(after_kill), bytes.size(), kPacket);
  EXPECT_EQ(peer->Call("ValidFile", {Variant(0)}), Variant(true));
  const Variant data = peer->Protocolate();
  EXPECT_EQ(data.At(3), Variant("0000000001"));
  EXPECT_TRUE(ReadFile(folder / "data/store/0000000001.pkg") == bytes);
  EXPECT_TRUE(fs::is_empty(folder / "data/incoming"));

  // Registered: the upload is not taken up again, but its registration is found by its id.
  try {
    peer->Call("ResumeUpload", {Variant(id)});
    ADD_FAILURE() << "a registered upload was resumed";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("já foi protocolado"), std::string::npos) << e.what();
  }
  EXPECT_EQ(peer->Call("FindRegistration", {Variant(id), Variant(""), Variant(0.0), Variant("")}),
            data);
}

TEST(ProtocolV2Test, ResumeUploadRefusals) {
  TempFolder client;
  TestServer server("packet_size = 1000\n", "", false);
  const std::string package = MakePackage(client.path(), "Q.ZIP", 3000, 23);
  const auto size = static_cast<double>(fs::file_size(package));
  const std::string sha = Sha256Of(package);
  auto start = [&] {
    auto peer = SendSession(server.port(), "Q.ZIP", static_cast<size_t>(size));
    const std::string id =
        peer->Call("StartUpload", {Variant("Q.ZIP"), Variant(size), Variant(sha)}).ToString();
    peer->Call("SendDataPacket", {Bytes(ReadFile(package), 0, 1000), Variant(1000)});
    return std::make_pair(std::move(peer), id);
  };
  auto [holder, held_id] = start();
  auto [left, expired_id] = start();
  left.reset();
  // Until the ended session has let go of its upload (flushed and recorded).
  for (int i = 0; i < 200 && !server.context().leases.TakeIfFree(expired_id); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  server.context().leases.Give(expired_id);
  AlterRegistry(server.data_folder(),
                "UPDATE uploads SET moved = moved - 90000 WHERE id = '" + expired_id + "'");

  struct Row {
    std::string id;
    const char* name;
    double size;
    const char* message;
  };
  const Row rows[] = {
      {"nao-existe", "Q.ZIP", size, "desconhecido"},
      {"../../etc", "Q.ZIP", size, "desconhecido"},
      {expired_id, "Q.ZIP", size, "expirou"},
      {expired_id, "Q.ZIP", size, "expirou"},  // and stays so
      {held_id, "OUTRO.ZIP", size, "não corresponde"},
      {held_id, "Q.ZIP", size + 1, "não corresponde"},
      {held_id, "Q.ZIP", size, "outra conexão"},
  };
  for (const Row& row : rows) {
    auto peer = SendSession(server.port(), row.name, static_cast<size_t>(row.size));
    try {
      peer->Call("ResumeUpload", {Variant(row.id)});
      ADD_FAILURE() << row.id << " resumed";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
    }
    EXPECT_EQ(peer->Call("CheckFormStatus"), Variant(1));  // the session goes on
  }
  EXPECT_FALSE(fs::exists(server.context().ResumablePath(expired_id)));
  // The session asked to let go of its upload was closed; a retry takes the upload over.
  EXPECT_TRUE(holder->Closed());
  auto taker = SendSession(server.port(), "Q.ZIP", static_cast<size_t>(size));
  EXPECT_EQ(Resume(*taker, held_id), 1000.0);
}

// The same package protocolated twice (by version 1 clients too) gets one registration and is
// stored once; FindRegistration finds it by its bytes, and a changed byte is another package.
TEST(ProtocolV2Test, RegistrationsAreFoundAgain) {
  TempFolder client;
  const std::string package = MakePackage(client.path(), "D.ZIP", 5000, 24);
  const std::string sha = Sha256Of(package);
  const auto size = static_cast<double>(fs::file_size(package));
  for (const unsigned dedup_days : {30u, 0u}) {
    SCOPED_TRACE("dedup_days " + std::to_string(dedup_days));
    TestServer server("packet_size = 2000\ndedup_days = " + std::to_string(dedup_days) + "\n");
    std::vector<Variant> answers;
    for (int i = 0; i < 2; ++i) {
      auto connection = Connect(server.port());
      rpc::ReceptionServerProxy proxy(*connection);
      answers.push_back(SendPackage(proxy, package));
    }
    EXPECT_EQ(answers[0] == answers[1], dedup_days != 0);
    EXPECT_EQ(server.StoredFiles().size(), dedup_days != 0 ? 1u : 2u);
    EXPECT_TRUE(server.IncomingFiles().empty());

    auto peer = SendSession(server.port(), "D.ZIP", static_cast<size_t>(size), true);
    struct Lookup {
      std::string sha;
      double size;
      const char* name;
      bool found;
    };
    const Lookup lookups[] = {{sha, size, "D.ZIP", dedup_days != 0},
                              {sha, size + 1, "D.ZIP", false},
                              {sha, size, "E.ZIP", false},
                              {std::string(64, '0'), size, "D.ZIP", false}};
    for (const Lookup& l : lookups) {
      const Variant found = peer->Call(
          "FindRegistration", {Variant(""), Variant(l.sha), Variant(l.size), Variant(l.name)});
      EXPECT_EQ(found.IsEmpty(), !l.found) << l.name << " " << l.size;
      if (l.found) {
        EXPECT_EQ(found, answers[1]);
      }
    }
  }
}

TEST(ProtocolV2Test, ResumeDownloadStartsAtTheOffset) {
  TestServer server("packet_size = 1000\n", "", false);
  std::vector<uint8_t> content(2500);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7);
  std::ofstream(server.context().download_folder + "/T.DAT", std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()),
             static_cast<std::streamsize>(content.size()));
  struct Row {
    double offset;
    bool accepted;
  };
  for (const Row row : {Row{0, true}, Row{1700, true}, Row{2500, true}, Row{2501, false},
                        Row{-1, false}, Row{0.5, false}}) {
    SCOPED_TRACE(row.offset);
    FramePeer peer(server.port(), false);
    peer.Hello(2);
    peer.Call("SendControlPacket",
              {rpc::BuildControlPacket("IRPF", "2.0", "T.DAT", 0, rpc::Operation::kReceive, "")});
    ASSERT_EQ(peer.Call("GetFile", {Variant("T.DAT"), Variant::Array(1, 14)}), Variant(2500));
    try {
      peer.Call("ResumeDownload", {Variant(row.offset)});
      EXPECT_TRUE(row.accepted);
    } catch (const std::runtime_error&) {
      EXPECT_FALSE(row.accepted);
      continue;
    }
    const uint32_t seq = peer.Post("GetDataPacket", {Variant(ByteArray{1, {}})});
    const auto reply = std::get<wire::Reply>(peer.Read());
    ASSERT_EQ(reply.seq, seq);
    const auto n = static_cast<size_t>(reply.result.ToInteger());
    const size_t from = static_cast<size_t>(row.offset);
    EXPECT_EQ(n, std::min<size_t>(1000, content.size() - from));
    if (n > 0) {
      const auto& got = reply.by_ref.at(0).second.AsBytes().bytes;
      EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<ptrdiff_t>(n),
                             content.begin() + static_cast<ptrdiff_t>(from)));
    }
    // Only before the first packet.
    EXPECT_THROW(peer.Call("ResumeDownload", {Variant(0.0)}), std::runtime_error);
  }
}

}  // namespace
}  // namespace vorncom::testing

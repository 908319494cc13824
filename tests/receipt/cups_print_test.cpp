// The receipt printed for real: a private cupsd with a cups-pdf queue, started by the test, and
// the PDF that queue produces read back.

#include <gtest/gtest.h>

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <thread>

#include "../report/report_test_support.h"
#include "receipt/receipt_report.h"
#include "receipt/rel_setup_form.h"
#include "receipt_test_support.h"
#include "report/file_printer.h"

namespace vorncom::receipt {
namespace {

const QString kQueue = QStringLiteral("VornComTeste");
const QString kBackend = QStringLiteral("/usr/lib/cups/backend/cups-pdf");
const QString kPpd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");

bool WriteText(const QString& path, const QByteArray& text) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

// A cupsd of its own (configuration, spool, logs and socket in a temporary folder) with one
// cups-pdf queue writing into `Output()`. `why` says what kept it from starting.
class PrivateCups {
 public:
  PrivateCups() { Start(); }
  ~PrivateCups() {
    if (cupsd_.state() != QProcess::NotRunning) {
      cupsd_.terminate();
      if (!cupsd_.waitForFinished(10000)) cupsd_.kill();
      cupsd_.waitForFinished(5000);
    }
    if (!backend_config_.isEmpty()) QFile::remove(backend_config_);
    qunsetenv("CUPS_SERVER");
  }
  bool Running() const { return why.isEmpty(); }
  QString Output() const { return root_.filePath(QStringLiteral("out")); }
  QString ErrorLog() const {
    QFile f(root_.filePath(QStringLiteral("log/error_log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll().right(4000)) : QString();
  }
  // True once the queue holds no unfinished job (bounded).
  bool WaitIdle(int seconds) {
    for (int i = 0; i < seconds * 4; ++i) {
      QProcess lpstat;
      lpstat.start(QStringLiteral("lpstat"), {QStringLiteral("-o"), kQueue});
      lpstat.waitForFinished(10000);
      if (lpstat.exitCode() == 0 && lpstat.readAllStandardOutput().trimmed().isEmpty() &&
          !QDir(Output()).entryList({QStringLiteral("*.pdf")}).isEmpty()) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
  }

  QString why;

 private:
  void Start() {
    const QString cupsd = QStandardPaths::findExecutable(QStringLiteral("cupsd"), {"/usr/sbin"});
    if (cupsd.isEmpty()) return void(why = "cupsd is not installed (Debian package cups)");
    if (!QFileInfo::exists(kBackend) || !QFileInfo::exists(kPpd)) {
      return void(why = "cups-pdf is not installed (Debian package printer-driver-cups-pdf)");
    }
    // The cups-pdf backend is mode 0700: cupsd runs such a backend as root, so only a cupsd
    // started by root reaches it; and cups-pdf reads its configuration from /etc/cups only.
    if (geteuid() != 0) return void(why = "cups-pdf runs only under a cupsd started by root");
    if (!root_.isValid()) return void(why = "no temporary folder");
    const QString r = root_.path();
    for (const char* sub : {"conf", "spool", "tmp", "cache", "state", "log", "out", "pdfspool"}) {
      QDir(r).mkpath(QLatin1String(sub));
    }
    // Filters run as the lp user: they must reach the folder and write the temporary one.
    QFile::setPermissions(r, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                 QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                 QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                 QFileDevice::ExeGroup);
    ::chmod(QFile::encodeName(r + "/tmp").constData(), 01777);
    socket_ = r + QStringLiteral("/cups.sock");
    const QByteArray R = r.toLocal8Bit();
    if (!WriteText(r + "/conf/cupsd.conf",
                   "Listen " + socket_.toLocal8Bit() +
                       "\nLogLevel debug\nDefaultAuthType None\nWebInterface No\nBrowsing No\n"
                       "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                       "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
                       "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n"
                       "</Policy>\n") ||
        !WriteText(r + "/conf/cups-files.conf",
                   "ServerRoot " + R + "/conf\nRequestRoot " + R + "/spool\nTempDir " + R +
                       "/tmp\nCacheDir " + R + "/cache\nStateDir " + R + "/state\nErrorLog " + R +
                       "/log/error_log\nAccessLog " + R + "/log/access_log\nPageLog " + R +
                       "/log/page_log\nFileDevice No\nSandboxing Relaxed\n")) {
      return void(why = "cannot write the cupsd configuration");
    }
    // The queue's device URI cups-pdf:/NAME makes the backend read /etc/cups/cups-pdf-NAME.conf.
    const QString name = QStringLiteral("vorncom-test-%1").arg(::getpid());
    backend_config_ = QStringLiteral("/etc/cups/cups-pdf-%1.conf").arg(name);
    if (!WriteText(backend_config_, "Out " + R + "/out\nAnonDirName " + R + "/out\nSpool " + R +
                                        "/pdfspool\nLog " + R + "/log\nGrp root\n")) {
      backend_config_.clear();
      return void(why = "cannot write the cups-pdf configuration into /etc/cups");
    }
    cupsd_.setProcessChannelMode(QProcess::MergedChannels);
    cupsd_.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"), r + "/conf/cupsd.conf",
                         QStringLiteral("-s"), r + "/conf/cups-files.conf"});
    if (!cupsd_.waitForStarted(10000)) return void(why = "cupsd does not start");
    for (int i = 0; i < 100 && !QFileInfo::exists(socket_); ++i) {
      if (cupsd_.waitForFinished(100)) break;
    }
    if (!QFileInfo::exists(socket_)) {
      return void(why = "cupsd did not listen: " + cupsd_.readAll() + ErrorLog());
    }
    qputenv("CUPS_SERVER", socket_.toLocal8Bit());
    // The PostScript that cups-pdf turns back into PDF comes from pdftocairo: through the default
    // Ghostscript renderer the text prints right but loses its Unicode mapping, and pdftotext
    // could not read it back.
    QProcess lpadmin;
    lpadmin.setProcessChannelMode(QProcess::MergedChannels);
    lpadmin.start(QStringLiteral("lpadmin"),
                  {QStringLiteral("-p"), kQueue, QStringLiteral("-E"), QStringLiteral("-v"),
                   QStringLiteral("cups-pdf:/") + name, QStringLiteral("-P"), kPpd,
                   QStringLiteral("-o"), QStringLiteral("pdftops-renderer-default=pdftocairo")});
    if (!lpadmin.waitForFinished(30000) || lpadmin.exitCode() != 0) {
      return void(why = "lpadmin failed: " + lpadmin.readAll());
    }
  }

  QTemporaryDir root_;
  QProcess cupsd_;
  QString socket_;
  QString backend_config_;
};

TEST(CupsPrintTest, ReceiptThroughTheSetupDialogToACupsPdfQueue) {
  PrivateCups cups;
  if (!cups.Running()) GTEST_SKIP() << cups.why.toStdString();
  report::testing::PdfPrinterEnvironment pdf;  // its device lists the queue and the PDF printer
  report::ReportDevice& device = pdf.Device();
  ASSERT_TRUE(device.SelectPrinter(QStringLiteral("PDF")));
  ASSERT_TRUE(device.SelectPrinter(kQueue)) << "the queue is not listed";

  ReceiptReport receipt(device);
  receipt.SetData(testing::SampleData());
  receipt.Job().destination = report::Destination::kFile;
  receipt.Job().Execute();
  report::FilePrinter printer(device);
  printer.spool = receipt.Job().LastSpool();
  {
    TfqevRelSetupForm setup(receipt.Job(), printer);
    setup.show();
    const auto* label = setup.findChild<QLabel*>(QStringLiteral("PrinterLabel"));
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->text().contains(kQueue)) << label->text().toStdString();
    setup.OKBBClick();
    EXPECT_FALSE(setup.ReprintNeeded());
  }
  EXPECT_TRUE(printer.Print().isEmpty());  // a system printer: no file of ours

  ASSERT_TRUE(cups.WaitIdle(90)) << cups.ErrorLog().toStdString();
  const QStringList pdfs = QDir(cups.Output()).entryList({QStringLiteral("*.pdf")});
  ASSERT_EQ(pdfs.size(), 1);
  const QString text = report::testing::PdfText(cups.Output() + QLatin1Char('/') + pdfs.first());
  ASSERT_FALSE(text.isEmpty()) << "pdftotext missing or the PDF holds no text";
  for (const char* expected : {"RECIBO DE ENVIO DE FORMULÁRIOS", "2026.000.123456-7",
                               "Maria da Silva Pereira", "Declaração Anual", "F12"}) {
    EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected << "\n"
                                                            << text.toStdString();
  }
}

}  // namespace
}  // namespace vorncom::receipt

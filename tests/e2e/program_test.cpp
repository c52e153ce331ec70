// The viewer program as a user runs it: command-line errors, a kiosk run against the emulator,
// and the headless demo.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/viewer_app.h"
#include "e2e/top_level_widgets.h"
#include "e2e/viewer_fixture.h"
#include "protocol/command_codes.h"
#include "support/run_program.h"

namespace e2e {
namespace {

const QString kViewer = QStringLiteral(PV_BINARY_DIR "/src/pelloxview");

struct ViewerRun {
  int status = -1;
  QString out;
  QString err;
};

// Runs the viewer without a display or a password in its environment; arguments byte for byte.
ViewerRun runViewerBytes(const std::vector<std::string>& argv, int timeoutMs = 30000) {
  const auto result = testing_support::runProgram(
      kViewer, argv,
      {"QT_QPA_PLATFORM=offscreen", "DISPLAY=", "WAYLAND_DISPLAY=", "PELLOXVIEW_PASSWORD="},
      timeoutMs);
  ViewerRun run;
  run.status = result.exitCode;
  run.out = QString::fromStdString(result.out);
  run.err = QString::fromStdString(result.err);
  return run;
}

ViewerRun runViewer(const QStringList& args, int timeoutMs = 30000) {
  std::vector<std::string> argv;
  for (const QString& arg : args) argv.push_back(arg.toStdString());
  return runViewerBytes(argv, timeoutMs);
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Samples of a 16-bit WAV file's data louder than a quiet floor: decoded sound, as opposed to
// the silence the player writes where no audio came.
int loudSamples(const std::string& wav) {
  const std::string bytes = fileBytes(wav);
  if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(36, 4, "data") != 0)
    return -1;
  int loud = 0;
  for (size_t i = 44; i + 1 < bytes.size(); i += 2) {
    const auto sample = static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) |
                                             static_cast<uint8_t>(bytes[i + 1]) << 8);
    if (sample > 500 || sample < -500) ++loud;
  }
  return loud;
}

// Removes a folder with everything in it, names that aren't UTF-8 included (QDir can't).
struct RemovedAtEnd {
  std::string path;
  ~RemovedAtEnd() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

// A private password file holding these bytes.
QString writePasswordFile(const QTemporaryDir& dir, const QByteArray& content) {
  const QString path = dir.path() + QStringLiteral("/password");
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
  file.write(content);
  file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  return path;
}

TEST(ViewerProgram, BadCommandLinesExitWithStatus2AndOneLine) {
  QTemporaryDir data;
  const QString missing = data.path() + QStringLiteral("/no-such-file");
  for (const QStringList& args :
       {QStringList{"--bogus"}, QStringList{"--channel", "17"},
        QStringList{"--connect", "host:99999", "--user", "u"},
        QStringList{"--connect", "host", "--user", "u", "--password-file", missing},
        QStringList{"--connect", "host", "--user", "u"},  // no password anywhere
        QStringList{"--password", "secret"}, QStringList{"--connect", "[::1]:9000", "--user", "u"},
        QStringList{"--quit-after", "2200000"}, QStringList{"--tour", "0x10"},
        QStringList{"--link-timeout", " 5"}}) {
    const ViewerRun run = runViewer(args + QStringList{"--data-dir", data.path()});
    EXPECT_EQ(run.status, 2) << args.join(' ').toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("secret"));
  }
  EXPECT_TRUE(QDir(data.path()).entryList(QDir::Files).isEmpty());  // nothing written
}

TEST(ViewerProgram, HelpAndVersion) {
  for (const char* option : {"--help", "-h"}) {
    const ViewerRun help = runViewer({option});
    EXPECT_EQ(help.status, 0) << option;
    EXPECT_TRUE(help.out.contains("--password-file")) << option;
  }
  const ViewerRun version = runViewer({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.contains("1.0.0.0 (015)"));
}

// The quit time also comes when the Connect dialog is left open.
TEST(ViewerProgram, QuitAfterEndsWithTheConnectDialogOpen) {
  QTemporaryDir data;
  const ViewerRun run = runViewer({"--quit-after", "1", "--data-dir", data.path()}, 20000);
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
}

// Passwords the login can't carry end the run before any connect, in one line.
TEST(ViewerProgram, PasswordsTheLoginCannotCarryExitWithStatus2) {
  QTemporaryDir dir;
  for (const QByteArray& content :
       {QByteArray("\0demo\n", 6), QByteArray("d\xe9mo\n"), QByteArray(33, 'p') + '\n'}) {
    const QString file = writePasswordFile(dir, content);
    // Nothing listens on port 1: a run that got as far as connecting would say so.
    const ViewerRun run = runViewer({"--connect", "127.0.0.1:1", "--user", "demo",
                                     "--password-file", file, "--data-dir", dir.path(), "-v"});
    EXPECT_EQ(run.status, 2) << run.err.toStdString();
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("32 printable ASCII")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("Connecting")) << run.err.toStdString();
  }
}

class KioskRunTest : public ViewerTest {};

// Qt's own options in the values of the viewer's are never Qt's: a user ID "-platform" would
// otherwise make Qt load a platform named after the next argument and abort.
class QtOptionRunTest : public ViewerTest {
 protected:
  QtOptionRunTest() { emulatorArgs = {"--user", "-platform"}; }
};

TEST_F(QtOptionRunTest, QtOptionsInValuesAreNotQts) {
  start();
  QTemporaryDir dir;
  const ViewerRun run =
      runViewer({"--connect", QStringLiteral("127.0.0.1:%1").arg(port()), "--user", "-platform",
                 "--password-file", writePasswordFile(dir, "demo\n"), "--quit-after", "1", "-v",
                 "--data-dir", dir.path()});
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("status: 127.0.0.1 Connected.")) << run.err.toStdString();
}

TEST_F(KioskRunTest, ConnectsShowsChannelPlaysAudioAndQuitsOrderly) {
  start();  // the in-process emulator; the window of this fixture stays idle
  QTemporaryDir dir;
  const QString passwordFile = writePasswordFile(dir, "demo\n");
  // Output names that aren't UTF-8 are created byte for byte.
  const std::string folder = dir.path().toStdString();
  const RemovedAtEnd cleanup{folder};
  const std::string shot = folder + "/shot-\xe9.png";
  const std::string wav = folder + "/audio-\xe9.wav";
  const std::string clip = folder + "/clip-\xe9.mkv";
  const ViewerRun run = runViewerBytes({"--connect",
                                        "127.0.0.1:" + std::to_string(port()),
                                        "--user",
                                        "demo",
                                        "--password-file",
                                        passwordFile.toStdString(),
                                        "--channel",
                                        "2",
                                        "--audio",
                                        "--quit-after",
                                        "4",
                                        "--screenshot",
                                        shot,
                                        "--audio-out",
                                        wav,
                                        "-v",
                                        "--data-dir",
                                        folder,
                                        "--record",
                                        clip});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("status: 127.0.0.1 Connecting...")) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("status: 127.0.0.1 Connected.")) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("status: 127.0.0.1 Disconnected.")) << run.err.toStdString();
  EXPECT_FALSE(run.err.contains("message:")) << run.err.toStdString();
  // Channel 2 first, then audio; the quit ends with the orderly disconnect.
  const auto control = recorder.requests("control");
  const auto start = std::find(control.begin(), control.end(), "REQ_LIVESTART");
  const auto audio = std::find(control.begin(), control.end(), "REQ_AUDIOOPEN");
  ASSERT_NE(start, control.end());
  ASSERT_NE(audio, control.end());
  EXPECT_LT(start, audio);
  EXPECT_EQ(control.back(), "REQ_DISCONNECT");
  EXPECT_EQ(recorder.bodies(REQ_LIVESTART).at(0).at(3), 0x02);  // mask of channel 2

  const QImage image = QImage::fromData(QByteArray::fromStdString(fileBytes(shot)), "PNG");
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width(), 240);
  // More than half a second of decoded sound (the voice pauses between phrases); silence
  // written for missing audio doesn't count.
  EXPECT_GT(loudSamples(wav), 4000);
  // The recording of the first channel shown is a whole Matroska file with both tracks.
  const auto streams = testing_support::runProgram(
      "ffprobe",
      {"-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0", "file:" + clip});
  EXPECT_EQ(streams.out, "mjpeg\npcm_s16le\n");

  // The password is in no file the run left behind.
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file() || entry.path().filename() == "password") continue;
    EXPECT_EQ(fileBytes(entry.path()).find("demo\n"), std::string::npos) << entry.path();
  }
}

// Without --connect, the kiosk options act on the first "Connected." of a Connect made in the
// dialog (answered here by the test's dialog host, as a user would).
TEST_F(KioskRunTest, KioskOptionsActOnAConnectFromTheDialog) {
  start();
  onOtherDialog = [](QDialog& dialog) { return dialog.exec(); };  // the full-screen view runs
  CommandLineOptions options;
  options.channel = 2;
  options.fullScreen = true;
  CViewerDlg* viewer = nullptr;
  bool fullScreenOnChannel2 = false;
  QElapsedTimer clock;
  clock.start();
  QTimer watch;
  watch.setInterval(50);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    for (QWidget* widget : topLevelWidgets()) {
      auto* candidate = qobject_cast<CViewerDlg*>(widget);
      if (candidate != nullptr && candidate != &window()) viewer = candidate;
    }
    if (viewer == nullptr) return;
    fullScreenOnChannel2 = viewer->fullScreen() && viewer->shownChannel() == 1;
    if (!fullScreenOnChannel2 && clock.elapsed() < 10000) return;
    watch.stop();
    viewer->leaveFullScreen();
    QTimer::singleShot(0, viewer, [viewer] { viewer->close(); });
  });
  watch.start();
  std::string noPassword;
  EXPECT_EQ(CViewerApp().run(options, noPassword), 0);
  EXPECT_TRUE(fullScreenOnChannel2);
  ASSERT_FALSE(recorder.bodies(REQ_LIVESTART).empty());
  EXPECT_EQ(recorder.bodies(REQ_LIVESTART).at(0).at(3), 0x02);  // mask of channel 2
}

// A wrong password is never tried again, whatever --reconnect says: the run logs in once, says so
// in one line and waits for the user (here until the quit time).
TEST_F(KioskRunTest, AReconnectingRunTriesAWrongPasswordOnce) {
  start();
  QTemporaryDir dir;
  const ViewerRun run = runViewer(
      {"--connect", QStringLiteral("127.0.0.1:%1").arg(port()), "--user", "demo", "--password-file",
       writePasswordFile(dir, "wrong\n"), "--reconnect", "--reconnect-first-wait-ms", "100",
       "--quit-after", "2.5", "--data-dir", dir.path()});
  EXPECT_EQ(run.status, 3) << run.err.toStdString();
  EXPECT_EQ(run.err.count("127.0.0.1 refused the login (status 2052); not reconnecting\n"), 1)
      << run.err.toStdString();
  const std::string stats = command("stats");
  // One refused login, never another (the notice connection logs in on its own account).
  EXPECT_NE(stats.find("  logins-refused 1\n"), std::string::npos) << stats;
}

// A channel the DVR masks (2) or lacks (5 of 4) is never pressed: it is reported once on
// standard error and skipped.
class MaskedChannelRunTest : public ViewerTest {
 protected:
  MaskedChannelRunTest() { emulatorArgs = {"--disabled-mask-a", "4294967282"}; }  // ~0b1101
};

TEST_F(MaskedChannelRunTest, AMaskedOrAbsentChannelIsReportedOnceAndSkipped) {
  start();
  QTemporaryDir dir;
  const QString passwordFile = writePasswordFile(dir, "demo\n");
  for (const QString& channel : {QStringLiteral("2"), QStringLiteral("5")}) {
    recorder.clear();
    const ViewerRun run = runViewer({"--connect", QStringLiteral("127.0.0.1:%1").arg(port()),
                                     "--user", "demo", "--password-file", passwordFile, "--channel",
                                     channel, "--quit-after", "2", "-v", "--data-dir", dir.path()});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("status: 127.0.0.1 Connected.")) << run.err.toStdString();
    EXPECT_EQ(recorder.count(REQ_LIVESTART), 0u) << channel.toStdString();
    EXPECT_EQ(run.err.count(QStringLiteral("channel %1 is not available").arg(channel)), 1)
        << run.err.toStdString();
  }
}

TEST(ViewerProgram, HeadlessDemoShowsLiveVideoAndAudio) {
  QTemporaryDir dir;
  const QString shot = dir.path() + QStringLiteral("/demo.png");
  const ViewerRun run =
      runViewer({"--demo", "--quit-after", "4", "--screenshot", shot, "--data-dir", dir.path(),
                 "--audio-out", dir.path() + "/demo.wav"},
                60000);
  ASSERT_EQ(run.status, 0) << run.err.toStdString() << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("demo DVR listening on 127.0.0.1:"));
  EXPECT_TRUE(run.out.contains("Connected.")) << run.out.toStdString();
  const int at = run.out.indexOf("frames drawn: ");
  ASSERT_GE(at, 0);
  EXPECT_GT(run.out.mid(at + 14).section('\n', 0, 0).toInt(), 5);
  EXPECT_TRUE(run.out.contains("screenshot: " + shot));
  EXPECT_FALSE(QImage(shot).isNull());
}

}  // namespace
}  // namespace e2e

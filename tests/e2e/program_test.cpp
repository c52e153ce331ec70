// The viewer program as a user runs it: command-line errors, a kiosk run against the emulator,
// and the headless demo.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

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

// Runs the viewer without a display or a password in its environment.
ViewerRun runViewer(const QStringList& args, int timeoutMs = 30000) {
  std::vector<std::string> argv;
  for (const QString& arg : args) argv.push_back(arg.toStdString());
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

TEST(ViewerProgram, BadCommandLinesExitWithStatus2AndOneLine) {
  QTemporaryDir data;
  const QString missing = data.path() + QStringLiteral("/no-such-file");
  for (const QStringList& args :
       {QStringList{"--bogus"}, QStringList{"--channel", "17"},
        QStringList{"--connect", "host:99999", "--user", "u"},
        QStringList{"--connect", "host", "--user", "u", "--password-file", missing},
        QStringList{"--connect", "host", "--user", "u"},  // no password anywhere
        QStringList{"--password", "secret"}}) {
    const ViewerRun run = runViewer(args + QStringList{"--data-dir", data.path()});
    EXPECT_EQ(run.status, 2) << args.join(' ').toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("secret"));
  }
  EXPECT_TRUE(QDir(data.path()).entryList(QDir::Files).isEmpty());  // nothing written
}

TEST(ViewerProgram, HelpAndVersion) {
  const ViewerRun help = runViewer({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.contains("--password-file"));
  const ViewerRun version = runViewer({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.contains("1.0.0.0 (015)"));
}

class KioskRunTest : public ViewerTest {};

TEST_F(KioskRunTest, ConnectsShowsChannelPlaysAudioAndQuitsOrderly) {
  start();  // the in-process emulator; the window of this fixture stays idle
  QTemporaryDir dir;
  const QString passwordFile = dir.path() + QStringLiteral("/password");
  {
    QFile file(passwordFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("demo\n");
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  }
  const QString shot = dir.path() + QStringLiteral("/shot.png");
  const QString wav = dir.path() + QStringLiteral("/audio.wav");
  const ViewerRun run = runViewer({"--connect",
                                   QStringLiteral("127.0.0.1:%1").arg(port()),
                                   "--user",
                                   "demo",
                                   "--password-file",
                                   passwordFile,
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
                                   dir.path(),
                                   "--record",
                                   dir.path() + "/clip.mkv"});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("status: 127.0.0.1 Connecting...")) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("status: 127.0.0.1 Connected.")) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("status: 127.0.0.1 Disconnected.")) << run.err.toStdString();
  EXPECT_FALSE(run.err.contains("message:")) << run.err.toStdString();
  // Channel 2 first, then audio; the quit ends with the orderly disconnect.
  const auto control = recorder.requests("control");
  const auto start = std::find(control.begin(), control.end(), "REQ_LIVESTART");
  const auto audio = std::find(control.begin(), control.end(), "REQ_AUDIOOPEN");
  EXPECT_LT(start, audio);
  EXPECT_EQ(control.back(), "REQ_DISCONNECT");
  EXPECT_EQ(recorder.bodies(REQ_LIVESTART).at(0).at(3), 0x02);  // mask of channel 2

  const QImage image(shot);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width(), 240);
  EXPECT_GT(QFile(wav).size(), 44 + 16000);  // more than a second of audio
  // The recording of the first channel shown is a whole Matroska file with both tracks.
  const auto streams = testing_support::runProgram(
      "ffprobe", {"-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0",
                  (dir.path() + "/clip.mkv").toStdString()});
  EXPECT_EQ(streams.out, "mjpeg\npcm_s16le\n");

  // The password is in no file the run left behind.
  for (const QString& name : QDir(dir.path()).entryList(QDir::Files)) {
    if (name == "password") continue;
    QFile file(dir.path() + '/' + name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().contains("demo\n")) << name.toStdString();
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

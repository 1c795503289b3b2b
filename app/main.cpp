// The program velox: the main window with its batch list.
//
//   velox [FILE...] [--convert] [--screenshot PNG] [--screenshot-during PNG]
//   velox --options [FILE] [--screenshot PNG]
#include "app/MainFrm.h"
#include "app/OptionFrm.h"
#include "component/VeloxConverter.h"
#include "probe/AVProbe.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <utility>

namespace {

// What an event handler raises goes to the main window's error box instead of ending the program.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    std::function<void(std::exception_ptr)> OnException;

    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            if (!OnException)
                throw;
            OnException(std::current_exception());
            return false;
        }
    }
};

// Saves what widget shows; false (with a message) when the file cannot be written.
bool SaveScreenshot(QWidget &widget, const QString &path)
{
    if (widget.grab().save(path, "PNG"))
        return true;
    std::fprintf(stderr, "velox: cannot write %s\n", path.toLocal8Bit().constData());
    return false;
}

// The output options window alone, with FILE taken over from the converter's probe.
int ShowOptions(const QStringList &files, const QString &screenshot)
{
    TVeloxConverter converter;
    TfrmOption window;
    if (!files.isEmpty()) {
        if (!converter.LoadAVLib(TVeloxConverter::DefaultAVLibFolder(), true)) {
            std::fprintf(stderr, "velox: %s\n", converter.LastErrMsg().c_str());
            return 1;
        }
        if (!converter.AVProbe().LoadFile(files.first().toStdString())) {
            std::fprintf(stderr, "velox: %s\n", converter.AVProbe().LastErrMsg.c_str());
            return 1;
        }
        window.LoadProbeInfo(&converter.AVProbe());
    }
    if (screenshot.isEmpty())
        return window.exec() == QDialog::Accepted ? 0 : 1;
    window.show();
    // After the first paint, with every layout settled.
    QTimer::singleShot(200, &window, [&] { QApplication::exit(SaveScreenshot(window, screenshot) ? 0 : 1); });
    return QApplication::exec();
}

// Whether every row shows some progress.
bool EveryRowUnderWay(const TfrmMain &window)
{
    const QTableWidget *list = window.lvFiles;
    for (int row = 0; row < list->rowCount(); ++row) {
        const QTableWidgetItem *item = list->item(row, 4);
        if (!item || item->text().isEmpty())
            return false;
    }
    return list->rowCount() > 0;
}

// Whether the command line asks only for the help or the version, which need no display.
bool AsksForTextOnly(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QString word = QString::fromLocal8Bit(argv[i]);
        if (word == "--")
            break;
        if (word == "-h" || word == "-?" || word == "--help" || word == "--help-all" || word == "-v" ||
            word == "--version")
            return true;
    }
    return false;
}

const char *const kNoDesktop = "velox needs a graphical desktop; veloxc converts from a terminal\n";

// Whether Qt is given a place to draw: a platform named, or an X or Wayland display.
bool DisplayNamed(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]).startsWith("-platform"))
            return true;
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Qt's messages while the application object is made wait there: a display that cannot be
// reached ends the program with one line instead of Qt's advice to reinstall it.
QStringList StartMessages;

void HoldStartMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg && text.contains(QLatin1String("platform plugin"))) {
        std::fputs(kNoDesktop, stderr);
        std::_Exit(1);
    }
    StartMessages << qFormatLogMessage(type, context, text);
    if (type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(StartMessages.join(QLatin1Char('\n'))));
}

} // namespace

int main(int argc, char **argv)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Batch converter of the sound of media files to MP3 or WAV.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption convert("convert", "Starts converting the files given once the window is up.");
    const QCommandLineOption screenshot(
        "screenshot", "Saves the window as a PNG picture and quits; with --convert when the run has ended.", "PNG");
    const QCommandLineOption during(
        "screenshot-during", "With --convert: saves the window as a PNG picture while every file converts.", "PNG");
    const QCommandLineOption options("options", "Shows the output options window alone.");
    parser.addOptions({convert, screenshot, during, options});
    parser.addPositionalArgument("FILE", "Media files to add to the list.", "[FILE...]");
    const auto name = [] {
        QCoreApplication::setApplicationName("velox");
        QCoreApplication::setApplicationVersion(QString::fromStdString(TVeloxConverter::Version()));
    };
    if (AsksForTextOnly(argc, argv)) {
        QCoreApplication text(argc, argv);
        name();
        parser.process(text); // prints and ends the program
        return 0;
    }

    if (!DisplayNamed(argc, argv)) {
        std::fputs(kNoDesktop, stderr);
        return 1;
    }
    const QtMessageHandler usual = qInstallMessageHandler(HoldStartMessage);
    TApplication application(argc, argv);
    qInstallMessageHandler(usual);
    for (const QString &message : std::exchange(StartMessages, {}))
        std::fprintf(stderr, "%s\n", qPrintable(message));
    name();
    parser.process(application);

    const QStringList files = parser.positionalArguments();
    if (parser.isSet(options))
        return ShowOptions(files, parser.value(screenshot));

    TfrmMain window;
    application.OnException = [&window](std::exception_ptr raised) { window.AppException(raised); };
    struct TForget {
        TApplication &application;
        ~TForget() { application.OnException = nullptr; } // before the window goes
    } forget{application};
    window.show();
    // The rows appear while the files are read, the window painted from the start.
    bool converting = false;
    window.QueueFiles(files, [&] {
        converting = parser.isSet(convert) && window.lvFiles->rowCount() > 0;
        if (converting)
            QTimer::singleShot(200, &window, [&] { window.ToolButton7->click(); });
    });

    const QString after = parser.value(screenshot), whileRunning = parser.value(during);
    if (after.isEmpty() && whileRunning.isEmpty())
        return QApplication::exec();

    // Watches the run and saves the pictures at their moments.
    bool started = false, savedDuring = whileRunning.isEmpty() || !parser.isSet(convert), failed = false;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, &window, [&] {
        started = started || window.RunActive();
        if (!savedDuring && window.RunActive() && EveryRowUnderWay(window)) {
            savedDuring = true;
            failed = !SaveScreenshot(window, whileRunning) || failed;
        }
        const bool ended = !window.Adding() && (!converting || (started && !window.RunActive()));
        if (!ended)
            return;
        watch.stop();
        // After the last updates are painted.
        QTimer::singleShot(300, &window, [&] {
            if (!savedDuring)
                failed = !SaveScreenshot(window, whileRunning) || failed;
            if (!after.isEmpty())
                failed = !SaveScreenshot(window, after) || failed;
            window.close();
            QApplication::exit(failed ? 1 : 0);
        });
    });
    watch.start();
    return QApplication::exec();
}

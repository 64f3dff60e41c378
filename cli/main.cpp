#include "Version.h"
#include "cli/StopSignals.h"
#include "console/CommandLine.h"
#include "console/RecordsFolder.h"
#include "mqtt/Publisher.h"
#include "report/ReportCommand.h"
#include "workfolder/WorkFolderLock.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

// How long a run that ends waits for the broker to take what it has not yet acknowledged;
// what it does not take is sent by the next run.
constexpr int publishWaitMs = 5000;

class ErrorLog : public m::ifc::ILog
{
public:
    void write(uint32_t level, std::string_view text) override
    {
        if (level == 0)
            std::fprintf(stderr, "t7r-cli: %.*s\n", int(text.size()), text.data());
    }
};

// Pages are painted with fonts, which takes a platform; the offscreen one needs no display.
int writeReport(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("t7r-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return report::run(QCoreApplication::arguments(), out, err);
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "report") == 0)
        return writeReport(argc, argv);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("t7r-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(T7R_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    console::CommandLine commandLine(out, err);
    // Only the publishing is wanted here; the run parses again and tells what is wrong.
    const console::Parsed parsed =
        console::parseArguments(QCoreApplication::arguments(), console::Options().delayMs);
    const auto &publish = parsed.options.publish;
    const bool publishing = parsed.outcome == console::Parsed::Outcome::Run && publish;
    // The records folder belongs to one copy of the tool at a time, the window's or this one's.
    // Asked for by the parser, however the option was spelt.
    WorkFolderLock folderLock;
    std::unique_ptr<RecordsFolder> records;
    ErrorLog errors;
    // Declared after the records, whose writer tells it of new lines: it goes first.
    std::unique_ptr<mqtt::Publisher> publisher;
    commandLine.setRecordsOpener([&]() -> RecordSink * {
        if (!folderLock.tryLock()) {
            err << "t7r-cli: " << (publishing ? "--mqtt" : "--records")
                << ": another copy of the tool works in this folder (process "
                << folderLock.holder() << ")\n";
            err.flush();
            return nullptr;
        }
        records = std::make_unique<RecordsFolder>();
        if (publishing) {
            publisher = std::make_unique<mqtt::Publisher>(
                *publish, records->recordWriter().directory(), &errors);
            QObject::connect(&records->recordWriter(), &RecordWriter::appended, publisher.get(),
                             &mqtt::Publisher::recordsAdded);
        }
        return records.get();
    });
    StopSignals stop([&commandLine](int signal) { commandLine.requestStop(signal); });
    const int code = commandLine.run(QCoreApplication::arguments());
    if (publisher)
        publisher->finish(publishWaitMs);
    return code;
}

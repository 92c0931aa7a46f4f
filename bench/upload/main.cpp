// bench_upload: the upload manager's throughput and memory against curl, and a soak under
// injected server faults, both against the local stand-in server on 127.0.0.1.
//
//   bench_upload [--only throughput|soak] [--devserver PATH] [--size-mb N] [--rounds N] [--files N]
#include "upload/SoakRun.h"
#include "upload/ThroughputRun.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    veltrane::bench::ThroughputRun::Settings throughput;
    throughput.devserverProgram = QStringLiteral(VELTRANE_DEVSERVER_PATH);
    veltrane::bench::SoakRun::Settings soak;
    QString only;
    for (qsizetype i = 0; i + 1 < arguments.size(); i += 2) {
        const QString& name = arguments[i];
        const QString& value = arguments[i + 1];
        if (name == QStringLiteral("--only")) {
            only = value;
        } else if (name == QStringLiteral("--devserver")) {
            throughput.devserverProgram = value;
        } else if (name == QStringLiteral("--size-mb")) {
            throughput.fileBytes = static_cast<std::uintmax_t>(value.toDouble() * 1e6);
        } else if (name == QStringLiteral("--rounds")) {
            throughput.rounds = std::max(1, value.toInt());
        } else if (name == QStringLiteral("--files")) {
            soak.files = std::max(1, value.toInt());
        } else {
            std::cerr << "usage: bench_upload [--only throughput|soak] [--devserver PATH] [--size-mb N] "
                         "[--rounds N] [--files N]"
                      << std::endl;
            return 2;
        }
    }
    if (arguments.size() % 2 != 0) {
        std::cerr << "every option takes a value" << std::endl;
        return 2;
    }
    QTemporaryDir work;
    if (!work.isValid()) {
        std::cerr << "no temporary folder" << std::endl;
        return 1;
    }
    const std::filesystem::path workDirectory = work.path().toStdString();
    bool ok = true;
    if (only.isEmpty() || only == QStringLiteral("throughput")) {
        ok = veltrane::bench::ThroughputRun::run(throughput, workDirectory) && ok;
    }
    if (only.isEmpty() || only == QStringLiteral("soak")) {
        ok = veltrane::bench::SoakRun::run(soak, workDirectory) && ok;
    }
    return ok ? 0 : 1;
}

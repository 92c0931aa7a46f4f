#include "app/AppEnvironment.h"
#include "app/Translations.h"
#include "app/cli/CliApplication.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    veltrane::prepareProcess();
    QCoreApplication app(argc, argv);
    veltrane::nameApplication();
    veltrane::installTranslations();
    return veltrane::runCli(app.arguments().mid(1));
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Kelvaro: generates lists of numbered or lettered text lines.
#include "displayprobe.h"
#include "mainform.h"
#include "qttranslations.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLocale>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Kelvaro"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVARO_VERSION));

    // The options are read before any display is opened, so that --help and
    // --version answer in a terminal without one.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Makes lists of numbered or lettered text lines in a window."));
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Qt's own options, such as -platform, are refused by their whole names.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const bool parsed = parser.parse(arguments);
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString problem = !parsed
            ? parser.errorText()
            : QStringLiteral("Unknown argument '%1'.").arg(parser.positionalArguments().first());
        std::fprintf(stderr, "kelvaro: %s Try 'kelvaro --help'.\n", qPrintable(problem));
        return EXIT_FAILURE;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        const QCoreApplication terminal(argc, argv);
        const bool helps = parser.isSet(help);
        const QByteArray text
            = (helps ? parser.helpText()
                     : QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                         QCoreApplication::applicationVersion()))
                  .toLocal8Bit();
        // Output that cannot be written (a full disk) is a failure, said once.
        if (std::fwrite(text.constData(), 1, size_t(text.size()), stdout) != size_t(text.size())
            || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "kelvaro: cannot write the %s: %s\n", helps ? "help" : "version",
                std::strerror(errno));
            return EXIT_FAILURE;
        }
        return EXIT_SUCCESS;
    }

    if (const std::optional<std::string> problem = unreachableDisplay()) {
        std::fprintf(stderr, "kelvaro: %s\n", problem->c_str());
        return EXIT_FAILURE;
    }
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("org.kelvaro.Kelvaro"));
    installQtTranslations(&app, QLocale());
    Main window;
    window.show();
    return QApplication::exec();
}

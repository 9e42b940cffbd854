#include "BrowserCommand.h"

#include "platform/DesktopEntry.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace {

constexpr QChar kPlaceholders[] = {u'u', u'U', u'f', u'F'};

bool IsPlaceholderLetter(QChar c)
{
    for (QChar p : kPlaceholders) {
        if (c == p)
            return true;
    }
    return false;
}

// Position of the first placeholder written inside quotes, the quote included.
qsizetype FindQuotedPlaceholder(const QString& line)
{
    for (qsizetype i = 0; i + 3 < line.size(); ++i) {
        const QChar quote = line[i];
        if ((quote == u'"' || quote == u'\'') && line[i + 1] == u'%'
            && IsPlaceholderLetter(line[i + 2]) && line[i + 3] == quote)
            return i;
    }
    return -1;
}

// Position of the first bare placeholder; "%%" stands for a percent sign and is skipped
// as a pair, so "%%u" is not taken for one.
qsizetype FindBarePlaceholder(const QString& line)
{
    for (qsizetype i = 0; i + 1 < line.size(); ++i) {
        if (line[i] != u'%')
            continue;
        if (line[i + 1] == u'%') {
            ++i;
            continue;
        }
        if (IsPlaceholderLetter(line[i + 1]))
            return i;
    }
    return -1;
}

} // namespace

QString BuildBrowserCommand(const QString& execLine, const QString& target, int capacity)
{
    if (execLine.trimmed().isEmpty())
        return {};
    qsizetype cut = FindQuotedPlaceholder(execLine);
    if (cut < 0)
        cut = FindBarePlaceholder(execLine);
    QString command = cut < 0 ? execLine : execLine.left(cut);
    command += u' ';
    command += target;
    if (capacity <= 0 || command.size() > capacity - 1)
        return {};
    return command;
}

QString ReadDesktopEntryExec(const QString& path)
{
    platform::DesktopEntry entry;
    if (!platform::ReadDesktopEntry(QFile::encodeName(path).toStdString(), entry))
        return {};
    return QString::fromStdString(entry.exec);
}

QString DefaultBrowserExec()
{
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    // Bounded: this runs on the GUI thread, after a click, and only when xdg-open failed.
    if (!query.waitForFinished(3000) || query.exitStatus() != QProcess::NormalExit
        || query.exitCode() != 0) {
        query.kill();
        query.waitForFinished(500);
        return {};
    }
    const QString entry = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
    // A desktop file id names a file, never a path.
    if (entry.isEmpty() || entry.contains(u'/') || !entry.endsWith(QLatin1String(".desktop")))
        return {};
    const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
    if (path.isEmpty())
        return {};
    return ReadDesktopEntryExec(path);
}

#include "BrowserCommand.h"

#include "platform/DesktopEntry.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace {

bool IsPlaceholderLetter(QChar c)
{
    return c == u'u' || c == u'U' || c == u'f' || c == u'F';
}

// Where the placeholder of `word` starts, -1 when it has none; "%%" is taken as a pair, so
// "%%u" holds none.
qsizetype FindPlaceholder(const QString& word)
{
    for (qsizetype i = 0; i + 1 < word.size(); ++i) {
        if (word[i] != u'%')
            continue;
        if (IsPlaceholderLetter(word[i + 1]))
            return i;
        if (word[i + 1] == u'%')
            ++i;
    }
    return -1;
}

// The word with each "%%" made a percent sign.
QString PercentSigns(QString word)
{
    return word.replace(QLatin1String("%%"), QLatin1String("%"));
}

} // namespace

QStringList BuildBrowserCommand(const QString& execLine, const QString& target, int capacity)
{
    QStringList command;
    bool placed = false;
    for (const std::string& text : platform::SplitExec(execLine.toStdString())) {
        const QString word = QString::fromStdString(text);
        qsizetype at = FindPlaceholder(word);
        if (at < 0) {
            command << PercentSigns(word);
            continue;
        }
        // Single quotes around the placeholder go with it.
        if (at > 0 && word[at - 1] == u'\'' && at + 2 < word.size() && word[at + 2] == u'\'')
            --at;
        command << PercentSigns(word.left(at)) + target;
        placed = true;
        break;
    }
    if (command.isEmpty())
        return {};
    if (!placed)
        command << target;
    if (capacity <= 0 || command.join(u' ').size() > capacity - 1)
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

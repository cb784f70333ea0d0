#include "app/JobProgress.h"

#include <unistd.h>

#include <cstdio>

namespace {

// Redraws a terminal at most this often: a line per file would slow a copy of many pictures.
constexpr qint64 kRedrawMs = 200;

QString duration(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
}

} // namespace

JobProgress::JobProgress(QString what)
    : m_what(std::move(what))
    , m_terminal(::isatty(STDERR_FILENO) == 1)
{
    m_started.start();
}

JobProgress::~JobProgress()
{
    if (m_drawn) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

void JobProgress::show(qint64 done, qint64 total)
{
    if (!m_terminal || total <= 0)
        return;
    const qint64 now = m_started.elapsed();
    if (m_drawn && done < total && now - m_lastDrawMs < kRedrawMs)
        return;
    m_lastDrawMs = now;
    QString line = QStringLiteral("%1 %2/%3").arg(m_what).arg(done).arg(total);
    // The time left at the pace so far; nothing to say before the first step is done.
    if (done > 0 && done < total)
        line += QStringLiteral(", about %1 left").arg(duration((now * (total - done) / done + 999) / 1000));
    std::fprintf(stderr, "\r\033[K%s", qPrintable(line));
    std::fflush(stderr);
    m_drawn = true;
}

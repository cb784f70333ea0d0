#include "capture/CaptureSizes.h"

#include "core/IniFile.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

namespace {
const QString kSection = QStringLiteral("camera");
const QString kKey = QStringLiteral("resolution");
} // namespace

CaptureSizes::CaptureSizes(QSlider *TrackBar1, QLabel *lbResolution, IniFile &iniFile)
    : m_trackBar(TrackBar1)
    , m_label(lbResolution)
    , m_iniFile(iniFile)
{
}

quint16 CaptureSizes::buildAndChoose(const MediaTypeList &types, quint16 fallback)
{
    m_catalogue.clear();
    for (qsizetype i = 0; i < types.size(); ++i) {
        const MediaType &type = types[i];
        if (!type.isFrameFormat())
            continue;
        const QSize size = MediaTypeFrameSize(type);
        if (size.width() >= 640)
            m_catalogue.add(QStringLiteral("%1_%2x%3_%4")
                                .arg(qint64(size.width()) * size.height())
                                .arg(size.width())
                                .arg(size.height())
                                .arg(i));
    }
    const int count = m_catalogue.count();
    if (count >= 1 && m_trackBar) {
        // A shrinking range clamps the position; that is the build's doing, not the operator's.
        const QSignalBlocker blocker(m_trackBar);
        m_trackBar->setMaximum(count);
    }
    if (count == 0)
        return fallback;

    const QString stored = m_iniFile.readString(kSection, kKey, QStringLiteral("640x480"));
    int chosen = 0;
    for (int i = 0; i < count; ++i)
        if (!stored.isEmpty() && m_catalogue[i].contains(stored))
            chosen = i;
    SetResolutionPosition(chosen + 1);
    return quint16(m_catalogue[chosen].section(u'_', 2, 2).toInt());
}

void CaptureSizes::SetResolutionPosition(int position)
{
    m_rememberedPosition = position;
    if (m_trackBar)
        m_trackBar->setValue(position); // TrackBar1Change sees the remembered position: no restart
    if (!m_catalogue.isEmpty()) {
        ShowResolutionText();
        if (m_label)
            m_iniFile.writeString(kSection, kKey, m_label->text());
    }
}

void CaptureSizes::ShowResolutionText()
{
    if (m_catalogue.isEmpty() || !m_trackBar || !m_label)
        return;
    const int entry = m_trackBar->value() - 1;
    if (entry < 0 || entry >= m_catalogue.count())
        return;
    m_label->setText(m_catalogue[entry].section(u'_', 1, 1));
}

bool CaptureSizes::TrackBar1Change()
{
    if (!m_trackBar || m_trackBar->value() == m_rememberedPosition)
        return false;
    m_rememberedPosition = m_trackBar->value();
    if (!m_catalogue.isEmpty()) {
        ShowResolutionText();
        m_iniFile.writeString(kSection, kKey, m_label->text());
    }
    return true;
}

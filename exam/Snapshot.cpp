#include "exam/Snapshot.h"

#include "core/ProgramFolder.h"
#include "exam/PictureSlots.h"

#include <QColor>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>

Snapshot::Snapshot(PictureSlots &pictureSlots, LiveSource source, Clock clock)
    : m_slots(pictureSlots)
    , m_source(std::move(source))
    , m_clock(std::move(clock))
    , m_requests(std::make_unique<QObject>())
{
}

Snapshot::~Snapshot() = default;

void Snapshot::requestSnapshot()
{
    // The call runs in the receiver's thread; a destroyed receiver drops it.
    QMetaObject::invokeMethod(
        m_requests.get(), [this] { ImagemovieDblClick(); }, Qt::QueuedConnection);
}

QString Snapshot::fileNameFor(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyyMMddHHmmsszzz")) + QStringLiteral(".jpg");
}

QString Snapshot::nextFileName()
{
    // Two snapshots within one millisecond, or a clock set back, would give a name already
    // used - by another slot, or by a saved file of an earlier examination that the save
    // would then overwrite. Move on to the next free millisecond instead.
    QDateTime time = m_clock();
    if (m_lastTime.isValid() && time <= m_lastTime)
        time = m_lastTime.addMSecs(1);
    const QString images = ProgramFolder::file(QStringLiteral("images/"));
    auto taken = [&](const QString &name) {
        for (int slot = 1; slot <= PictureSlots::kSlotCount; ++slot) {
            if (m_slots.fileName(slot) == name)
                return true;
        }
        return QFileInfo::exists(images + name);
    };
    while (taken(fileNameFor(time)))
        time = time.addMSecs(1);
    m_lastTime = time;
    return fileNameFor(time);
}

void Snapshot::ImagemovieDblClick()
{
    // The "no camera" picture is no examination finding.
    if (m_source.cameraLost && m_source.cameraLost())
        return;
    const QString name = nextFileName();
    const int slot = m_slots.SnapshotTargetSlot();
    QImage live = m_source.copyLivePicture ? m_source.copyLivePicture() : QImage();
    if (live.isNull()) {
        // Before any frame the live picture is the mid-grey start picture; a slot with a file
        // name always holds a picture.
        live = QImage(640, 480, QImage::Format_BGR888);
        live.fill(QColor(128, 128, 128));
    }
    m_slots.setSnapshot(slot, live, name);
    m_slots.AdvanceSlotCursor();
    m_slots.setCaptureSize(slot, m_source.captureSize ? m_source.captureSize() : QSize(0, 0));
    if (m_source.rememberedRunning && m_source.rememberedRunning() && m_source.runGraph)
        m_source.runGraph();
}

#include "ui/CrossCursors.h"

#include <QPixmap>

#include <map>

// The resource file of this library lives in a static library; nothing else refers to it, so
// the linker keeps it only when it is asked for by name.
static void initUiResources()
{
    Q_INIT_RESOURCE(ui);
}

namespace CrossCursors {
namespace {

std::map<int, QCursor> &registry()
{
    static std::map<int, QCursor> cursors;
    return cursors;
}

// The plus sign's two strokes cross at the hot spot.
constexpr int kHotSpot = 15;

} // namespace

void LoadCrossCursors()
{
    initUiResources();
    static const char *const kResources[] = {"cblack", "cgreen", "cred", "cwhite"};
    for (int number = 1; number <= 4; ++number) {
        const QPixmap shape(QStringLiteral(":/cursors/") + QLatin1String(kResources[number - 1]));
        if (!shape.isNull())
            registry()[number] = QCursor(shape, kHotSpot, kHotSpot);
    }
}

QCursor cursor(int number)
{
    const auto found = registry().find(number);
    return found == registry().end() ? QCursor(Qt::ArrowCursor) : found->second;
}

bool isRegistered(int number)
{
    return registry().count(number) != 0;
}

} // namespace CrossCursors

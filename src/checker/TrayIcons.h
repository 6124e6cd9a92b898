#pragma once

#include <QIcon>
#include <QImage>
#include <QList>

namespace tarn {

// The tray pictures, 16 x 16, drawn at run time: an envelope in a few states.
class TrayIcons {
public:
    static constexpr int Size = 16;
    static constexpr int FrameCount = 5;

    // ImageList1: 0 no mail, 1 mail waiting, 2 offline (the TrayState image indexes).
    static QImage staticImage(int index);
    // ImageList5: checking while no mail waits; ImageList6: checking while mail waits.
    static QImage noMailFrame(int frame);
    static QImage mailFrame(int frame);

    static QList<QIcon> ImageList1();
    static QList<QIcon> ImageList5();
    static QList<QIcon> ImageList6();
};

} // namespace tarn

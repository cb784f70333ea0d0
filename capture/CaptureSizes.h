#pragma once

#include "capture/MediaType.h"
#include "capture/untmmStringlist.h"

class IniFile;
class QLabel;
class QSlider;

// The capture-size catalogue: one entry per frame size of at least 640 pixels' width the camera
// offers (the first media type of each size), shown on the track bar and its label and kept in
// system.ini ([camera] resolution). Window thread only.
class CaptureSizes {
public:
    CaptureSizes(QSlider *TrackBar1, QLabel *lbResolution, IniFile &iniFile);

    // Fills the catalogue from the camera's media types and chooses the stored size (else the
    // smallest), storing the choice. Gives back the chosen media type's index; `fallback` when
    // the camera offers no size for the catalogue.
    quint16 buildAndChoose(const MediaTypeList &types, quint16 fallback);
    const TmmStringlist &catalogue() const { return m_catalogue; }

    void SetResolutionPosition(int position);
    void ShowResolutionText();
    // The operator moved the track bar: shows and stores the new size. True when the position
    // changed (the preview then restarts at it); a move made by the build itself is no change.
    bool TrackBar1Change();

private:
    QSlider *m_trackBar;
    QLabel *m_label;
    IniFile &m_iniFile;
    TmmStringlist m_catalogue;
    int m_rememberedPosition = 1;
};

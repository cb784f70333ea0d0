#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// The calibration dialog: asks for the real length, in millimetres, of the line drawn on the
// live picture. Fixed size, closed only with its two buttons. Window thread only.
class TfrmMeasure : public QDialog {
    Q_OBJECT

public:
    explicit TfrmMeasure(QWidget *parent = nullptr);

    QLabel *lbRealLength = nullptr;
    QLineEdit *edtRealLength = nullptr;
    QLabel *TntLabel1 = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

protected:
    // Neither Enter nor Escape closes the dialog: only its two buttons do.
    void keyPressEvent(QKeyEvent *event) override;
};

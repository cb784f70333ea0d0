#include "capture/CameraPropDialog.h"

#include "capture/CameraSettings.h"
#include "core/Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QVBoxLayout>

CameraPropDialog::CameraPropDialog(const CameraControlList &controls, QWidget *parent, const QString &defaultsCaption,
                                   std::function<void()> onDefaults)
    : QDialog(parent)
    , m_controls(controls)
{
    setWindowTitle(QString());
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    layout->addLayout(form);

    if (m_controls.isEmpty())
        form->addRow(new QLabel(tr("This camera has no settings."), this));

    for (const CameraControl &control : m_controls) {
        const auto apply = control.apply;
        switch (control.kind) {
        case CameraControl::Kind::Integer: {
            auto *row = new QHBoxLayout;
            auto *slider = new QSlider(Qt::Horizontal, this);
            slider->setObjectName(control.name);
            slider->setRange(control.minimum, control.maximum);
            slider->setSingleStep(control.step);
            slider->setPageStep(std::max(control.step, (control.maximum - control.minimum) / 10));
            slider->setValue(control.value);
            m_resetters.append([slider, initial = control.defaultValue] { slider->setValue(initial); });
            auto *value = new QLabel(QString::number(control.value), this);
            value->setMinimumWidth(48);
            row->addWidget(slider, 1);
            row->addWidget(value);
            connect(slider, &QSlider::valueChanged, this,
                    [apply, value, step = control.step, minimum = control.minimum, slider](int position) {
                        // Drivers refuse values off their step grid; snap before sending.
                        const int snapped = minimum + (position - minimum) / step * step;
                        if (snapped != position) {
                            slider->setValue(snapped);
                            return;
                        }
                        value->setText(QString::number(position));
                        if (apply)
                            apply(position);
                    });
            form->addRow(control.name, row);
            break;
        }
        case CameraControl::Kind::Boolean: {
            auto *box = new QCheckBox(this);
            box->setObjectName(control.name);
            box->setChecked(control.value != 0);
            m_resetters.append([box, initial = control.defaultValue] { box->setChecked(initial != 0); });
            connect(box, &QCheckBox::toggled, this, [apply](bool on) {
                if (apply)
                    apply(on ? 1 : 0);
            });
            form->addRow(control.name, box);
            break;
        }
        case CameraControl::Kind::Menu: {
            auto *box = new QComboBox(this);
            box->setObjectName(control.name);
            for (qsizetype i = 0; i < control.menuItems.size(); ++i)
                box->addItem(control.menuItems[i], control.menuValues.value(i));
            box->setCurrentIndex(std::max(0, int(control.menuValues.indexOf(control.value))));
            m_resetters.append(
                [box, initial = control.defaultValue] { box->setCurrentIndex(std::max(0, box->findData(initial))); });
            connect(box, &QComboBox::currentIndexChanged, this, [apply, box](int index) {
                if (apply && index >= 0)
                    apply(box->itemData(index).toInt());
            });
            form->addRow(control.name, box);
            break;
        }
        }
    }

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (!m_controls.isEmpty()) {
        QPushButton *defaults = buttons->addButton(defaultsCaption, QDialogButtonBox::ResetRole);
        defaults->setObjectName(QStringLiteral("btnCameraDefaults"));
        connect(defaults, &QPushButton::clicked, this, [this, onDefaults] {
            for (const auto &reset : m_resetters)
                reset();
            if (onDefaults)
                onDefaults();
        });
    }
    layout->addWidget(buttons);
}

void CameraPropDialog::showFor(CameraControlList controls, CameraSettings &settings, const QString &camera,
                               QWidget *owner, const QString &defaultsCaption)
{
    // The changes are gathered here and written once at the close: a slider's every step would
    // otherwise write and sync the file on the window thread.
    QList<std::pair<QString, int>> changes;
    bool forgetEarlier = false;
    for (CameraControl &control : controls) {
        control.apply = [&changes, name = control.name, apply = control.apply](int value) {
            const bool accepted = apply && apply(value);
            if (accepted)
                changes.append({name, value});
            return accepted;
        };
    }
    CameraPropDialog dialog(controls, owner, defaultsCaption, [&] {
        changes.clear();
        forgetEarlier = true;
    });
    // It opens in the screen's top-left corner, not centred over the window.
    const QScreen *screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    dialog.move(screen ? screen->geometry().topLeft() : QPoint(0, 0));
    Dialogs::exec(dialog);
    if (!changes.isEmpty() || forgetEarlier)
        settings.rememberAll(camera, changes, forgetEarlier);
}

#pragma once
// Created once at start-up and kept for the whole run; its contents arrive
// with the feature that owns it.

#include <QDialog>

namespace vt::knowledge {

class TformOpenZTIValue : public QDialog {
    Q_OBJECT
public:
    explicit TformOpenZTIValue(QWidget *parent = nullptr);
};

} // namespace vt::knowledge

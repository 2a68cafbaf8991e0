#pragma once
// Created once at start-up and kept for the whole run; its contents arrive
// with the feature that owns it.

#include <QDialog>

namespace vt::hives {

class TformOpenCustomHive : public QDialog {
    Q_OBJECT
public:
    explicit TformOpenCustomHive(QWidget *parent = nullptr);
};

} // namespace vt::hives

#pragma once
// Created once at start-up and kept for the whole run; its contents arrive
// with the feature that owns it.

#include <QDialog>

namespace vt::hives {

class TformRemoteConnect : public QDialog {
    Q_OBJECT
public:
    explicit TformRemoteConnect(QWidget *parent = nullptr);
};

} // namespace vt::hives

#pragma once
// Created once at start-up and kept for the whole run; its contents arrive
// with the feature that owns it.

#include <QDialog>

namespace vt::editors {

class TformEditMultiString : public QDialog {
    Q_OBJECT
public:
    explicit TformEditMultiString(QWidget *parent = nullptr);
};

} // namespace vt::editors

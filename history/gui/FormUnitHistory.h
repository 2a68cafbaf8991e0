#pragma once
// Created once at start-up and kept for the whole run; its contents arrive
// with the feature that owns it.

#include <QWidget>

namespace vt::history {

class TformHistory : public QWidget {
    Q_OBJECT
public:
    explicit TformHistory(QWidget *parent = nullptr);
};

} // namespace vt::history

#pragma once
// Created once at start-up and kept for the whole run; its contents arrive
// with the feature that owns it.

#include <QWidget>

namespace vt::search {

class TformSearch : public QWidget {
    Q_OBJECT
public:
    explicit TformSearch(QWidget *parent = nullptr);
};

} // namespace vt::search

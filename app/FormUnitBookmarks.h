#pragma once
// The bookmarks window; created once at start-up, filled by the bookmarks
// feature.

#include <QWidget>

namespace vt::app {

class TformBookmarks : public QWidget {
    Q_OBJECT
public:
    explicit TformBookmarks(QWidget *parent = nullptr);
};

} // namespace vt::app

#pragma once
// Start-up: every window of the program, created once in a fixed order and
// kept until the program ends.

#include <QWidget>

#include <memory>
#include <vector>

namespace vt::app {

class TformMain;

class TApplicationForms {
public:
    // Creates the windows in start-up order; the main window comes first.
    TApplicationForms();
    ~TApplicationForms();
    TApplicationForms(const TApplicationForms &) = delete;
    TApplicationForms &operator=(const TApplicationForms &) = delete;

    TformMain *formMain() const { return m_formMain; }
    // All windows in creation order, the main window first.
    const std::vector<QWidget *> &forms() const { return m_order; }
    // The window with this object name, or none.
    QWidget *form(const QString &objectName) const;

private:
    template <class T> T *create();

    TformMain *m_formMain = nullptr;
    std::vector<QWidget *> m_order;
    std::vector<std::unique_ptr<QWidget>> m_owned;
};

} // namespace vt::app

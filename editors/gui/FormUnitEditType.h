#pragma once
// "Change registry value type": the value's name, data and type, and the
// types it may change to.

#include <QDialog>

#include "core/kltRegistry.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace vt::editors
{

class TformValueType : public QDialog
{
    Q_OBJECT
public:
    explicit TformValueType(QWidget *parent = nullptr);

    // True with the chosen type when OK closed the dialog with a type chosen.
    bool SelectNewType(const QString &name, const QString &dataText, TRegDataType current, TRegDataType &newType);

    QLineEdit *editValue = nullptr;
    QLineEdit *editData = nullptr;
    QLineEdit *editTypeCurrent = nullptr;
    QComboBox *cbTypeNew = nullptr;
    QPushButton *bnOK = nullptr;
};

} // namespace vt::editors

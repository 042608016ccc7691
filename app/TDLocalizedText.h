#pragma once

#include <QCoreApplication>
#include <QString>

// A text that is a localisation key: translated when a translation is installed, else shown as
// written. Names, titles and labels that are shown verbatim never go through here.
inline QString tdLocalized(const char* key)
{
    return QCoreApplication::translate("Tindrel", key);
}

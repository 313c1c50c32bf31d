#pragma once

#include <QMetaType>
#include <QString>
#include <memory>

// One external program or script the user registered. Identity is the object, not the path.
class ExtAction
{
public:
    QString path;
};

Q_DECLARE_METATYPE(std::shared_ptr<ExtAction>)

#pragma once

#include "tests/support/TestEnv.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <string>

namespace vela::test {

// The record of the last run that a log folder holds, as a monitor reads it.
inline QJsonObject runRecord(const std::string& logFolder) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(readFile(logFolder + "/atualizavela-movel.json")))
        .object();
}

} // namespace vela::test

#pragma once
// The versioned schema, its creation and upgrades, the demo data, and the code pictures.

#include "Storage.h"

#include <QStringList>

namespace rhserver {

constexpr int SchemaVersion = 4;
// The code picture whose levels classify questionnaire codes.
constexpr int QuestionnairePicture = 12;

// Creates or upgrades the schema of the database at the address; with demo, also fills the demo
// data when the database has no branches yet. Each demo branch's payroll folder is made under
// payrollRoot/folha (and left empty when it cannot be, or no root is given), so that the demo can
// be saved where it is made. A text for the operator goes to report.
bool initDatabase(const QString& db, bool demo, QString* error, QString* report = nullptr,
                  const QString& payrollRoot = {});

// Empty when the open database holds the current schema; otherwise why it cannot be served.
QString schemaProblem(Storage& storage);

// Lengths of the codes at each level of a mask such as "99.999": {2, 5}. Empty when invalid.
QVector<int> levelLengths(const QString& mask);

} // namespace rhserver

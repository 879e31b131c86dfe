#pragma once
// The parameters form's own message table.

#include "Messages.h"

// Every entry of msgPadrao, in its order.
const QStringList& msgPadraoLines();

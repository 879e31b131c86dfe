// The branch panel: code and name of the branch whose parameters are shown.

#include "Parametros.h"

void TfrmParametros::medCdFilialChange() {
    edtNmFilial->clear();
}

// CmdAddFolder_Click: the source folder choice and its listing.
#include "app/frm_step1.h"

namespace mailvane::app {

void FrmStep1::CmdAddFolder_Click() {}

}  // namespace mailvane::app

// CmdExtractDBX_Click: the conversion run, with this window as its front end.
#include "app/frm_step1.h"

namespace mailvane::app {

void FrmStep1::CmdExtractDBX_Click() {}

}  // namespace mailvane::app

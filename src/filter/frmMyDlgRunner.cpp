// The filter window's default runner, kept apart so that code which injects its
// own runner does not need the editor operations linked in.
#include "filter/frmMyDlg.h"

frmMyDlg::Runner frmMyDlg::CurrentViewRunner() { return &siftwell::filter::StartOnCurrentView; }

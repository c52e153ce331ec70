// Snapshots and recordings of the live picture.
#include "app/viewer_dlg.h"

void CViewerDlg::takeSnapshot() {}

void CViewerDlg::toggleRecording() {}

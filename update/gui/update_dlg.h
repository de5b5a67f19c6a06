#pragma once
#include <string>

// The download window, for the main window's IUpdateHost::RunDownloadWindow and
// its destroy handling. User-interface thread only.

class CUpdateDlg;

// The one download window of the process (null until first needed).
extern CUpdateDlg* g_pUpdateDlg;

// Creates g_pUpdateDlg on first use and runs it modally: it downloads url into
// path and closes itself. Returns its result: 1 complete and valid, else 0 (or
// -1 when startResult was -1: "업데이트 오류" is shown and nothing is
// downloaded). A second call in the same process runs nothing and returns 0.
int RunUpdateDialog(const std::string& url, const std::string& path, int startResult);

// The main window's destroy handling: stops a download still running and
// deletes g_pUpdateDlg.
void DestroyUpdateDialog();

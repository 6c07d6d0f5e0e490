// Shared by bare_dialog.cpp and bare_dialog.rc.
#ifndef HALVANE_BENCH_BARE_DIALOG_IDS_H
#define HALVANE_BENCH_BARE_DIALOG_IDS_H
#define IDD_BARE 101
#endif

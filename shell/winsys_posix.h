// The native command-line runner's view of the POSIX window-system operations: there are
// no windows, so the runner reads back what would have gone into a list box.
#ifndef PELMAR_SHELL_WINSYS_POSIX_H
#define PELMAR_SHELL_WINSYS_POSIX_H

// Items added to the one list box the POSIX build keeps (every dialog and control share
// it), in alphabetical order. ListItemAt returns null past the last item.
int ListItemCount();
const char *ListItemAt(int index);

#endif

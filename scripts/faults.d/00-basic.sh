# SPDX-License-Identifier: GPL-3.0-or-later
# The frame itself: a server starts, answers and stops on SIGTERM.

scenario answers-and-stops quick
scenario_answers-and-stops() {
  fault_folder
  fault_start
  fault_get nosuchfunction | grep -q . || { echo "no answer"; return 1; }
  fault_stop || { echo "SIGTERM did not end the server within 10 s"; return 1; }
}

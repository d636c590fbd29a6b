// Wine's own start, the yardstick of bench/whole-job.sh: a GUI program like the stub that only
// records when its code first runs and returns. Appends "null <created> <entry>" to the file
// that HALVERN_START_TIMES names (see StartTimes.h); exits with 1 when it cannot.
#include "StartTimes.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  unsigned long long entry = starttimes::Now();
  char line[96];
  snprintf(line, sizeof line, "null %llu %llu", starttimes::ProcessCreated(), entry);
  return starttimes::AppendLine(line) ? 0 : 1;
}

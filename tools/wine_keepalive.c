/* Stays alive, doing nothing, for the length of a test run under Wine. While
 * one program runs in a prefix, Wine keeps its wineserver and its service
 * processes; started here with no inherited output, they never hold a test
 * runner's output pipe open after a test program has ended. */
#include <windows.h>

int main(void) {
  for (;;) Sleep(INFINITE);
}

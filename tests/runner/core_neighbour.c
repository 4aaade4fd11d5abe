/* A library that a core library stand-in needs, as the real core may need
   libraries shipped beside it. */
__declspec(dllexport) int CoreNeighbour(void) { return 7; }

// A DLL that only has to exist with the other width than the tool under test.
int OtherBitness(void) { return 0; }

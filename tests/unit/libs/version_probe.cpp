// A module that exists only to carry the embedded version text for the tests.
extern "C" int vtversion_probe_answer() { return 42; }

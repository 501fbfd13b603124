// Runs a tool as root for the authorization stand-in (see platform/authorization/Trampoline.h).
#include "platform/authorization/Trampoline.h"

int main(int argc, char** argv) { return telvo::authorization::trampolineMain(argc, argv); }

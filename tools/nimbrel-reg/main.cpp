// nimbrel-reg: reads and writes the registry stand-in from the command line, like reg.exe.
#include "reg_tool.h"

int main(int argc, char** argv) { return nimbrel::reg::runRegTool(argc, argv); }

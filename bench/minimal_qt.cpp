// The baseline for start-up benchmarks: the least a Qt console program does.
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::puts("ready");
  return 0;
}

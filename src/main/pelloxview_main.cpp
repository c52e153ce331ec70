// The viewer's entry point.
#include "app/viewer_app.h"

int main(int argc, char** argv) {
  return viewerMain(argc, argv);
}

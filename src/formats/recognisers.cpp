#include "formats/recognisers.h"

namespace morvane {
namespace {

RecogniserTable MakeTable() {
  RecogniserTable t;
  return t;
}

}  // namespace

const RecogniserTable& DefaultRecognisers() {
  static const RecogniserTable table = MakeTable();
  return table;
}

}  // namespace morvane

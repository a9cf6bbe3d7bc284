#include "PlugInKit/PlugIn.h"

std::string_view electionName(Election election) {
  switch (election) {
  case Election::use:
    return "use";
  case Election::ignore:
    return "ignore";
  case Election::automatic:
    break;
  }
  return "default";
}

std::optional<Election> electionNamed(std::string_view name) {
  if (name == "use")
    return Election::use;
  if (name == "ignore")
    return Election::ignore;
  if (name == "default")
    return Election::automatic;
  return std::nullopt;
}

char electionFlag(Election election) {
  switch (election) {
  case Election::use:
    return '+';
  case Election::ignore:
    return '-';
  case Election::automatic:
    break;
  }
  return ' ';
}

#pragma once
// What damaged packs cost the user: which snapshots reach data in each, how many files lose
// content (with up to Verification::exampleFileLimit example paths), and which folders, or
// whole snapshots, can no longer be listed because their tree object lies in it. Missing and
// damaged packs are attributed alike. Attribution only reads, and never throws for damage
// it meets: an unreadable snapshot is skipped, an unreadable tree becomes a phrase.
#include <vector>

#include "engine/Verification.h"

namespace wm {

class Repository;

// The same records in the same order, with the affected snapshots, files and subtrees filled
// in. Every tree reachable from the head's snapshots is read at most once per call, however
// many snapshots share it.
std::vector<Verification::Damage> attributeDamage(const Repository& repository,
                                                  std::vector<Verification::Damage> damaged);

}  // namespace wm

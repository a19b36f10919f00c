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
// in. Each distinct snapshot record of the head is read once, and every tree reachable from
// them at most once per call, however many snapshots and folders share it. Paths are counted
// per tree, never followed one by one: a file counts once for every path that leads to it and
// for every listing of its snapshot, a tree that cannot be read once for every path in each
// distinct snapshot; only the example paths and phrases kept are spelt out.
std::vector<Verification::Damage> attributeDamage(const Repository& repository,
                                                  std::vector<Verification::Damage> damaged);

}  // namespace wm

// Refinement coding: the coder's fast row path must make exactly the
// decisions of a per-pixel model built on the general context machinery
// (the decoder's tests check the decoding side against the same model).
#include "encoder/refinement_region_encoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/mq_model.h"
#include "tests/test_util.h"

namespace {

TEST(RefinementEncoder, SameCodeAsThePerPixelModel) {
  std::mt19937 rng(17);
  for (const auto& size : jb2test::kRefinementSizes) {
    for (const jb2test::RefinementCase& c : jb2test::kRefinementCases) {
      SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " template " << c.templ << " tpgron "
                                      << c.tpgron << " dx " << c.dx << " dy " << c.dy);
      BMP ref{}, target{};
      jb2test::MakeRefinementPair(&ref, &target, size[0], size[1], rng);
      long atx[2] = {c.atx[0], c.atx[1]}, aty[2] = {c.aty[0], c.aty[1]};
      const std::vector<uint8_t> expected =
          jb2test::ModelEncodeRefinement(&target, &ref, c.templ, c.tpgron, c.dx, c.dy, atx, aty);
      jb2test::TestCoder coder;
      EncodeRefinementRegion(&coder.enc, &coder.store, &target, &ref, c.dx, c.dy, c.templ, atx, aty, c.tpgron);
      EXPECT_EQ(coder.Finish(), expected);
      DestroyBMP(&target);
      DestroyBMP(&ref);
    }
  }
}

}  // namespace

// Working through the files of a walk several at a time: results in walk order, a bounded
// number of them waiting, and an early stop or a failure that ends the walk.

#include "engine/ImageWalk.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

TEST(ImageWalk, ResultsComeInWalkOrderAndFewWait) {
    std::vector<std::string> names;
    std::vector<int> delays; // microseconds, so that later files often finish first
    std::mt19937 rng(25);
    for (int i = 0; i < 200; ++i) {
        names.push_back("missing-" + std::to_string(i));
        delays.push_back(static_cast<int>(rng() % 2000));
    }
    for (unsigned jobs : {1u, 2u, 3u, 8u}) {
        SCOPED_TRACE(jobs);
        std::atomic<std::size_t> taken{0}, delivered{0}, widest{0};
        std::vector<std::string> order;
        dw::ImageWalk walk(names);
        dw::workInOrder(walk, jobs, [&](const dw::FoundFile& file) -> dw::Delivery {
            const std::size_t ahead = ++taken - delivered;
            for (std::size_t was = widest;
                 ahead > was && !widest.compare_exchange_weak(was, ahead);)
                ;
            const auto index = static_cast<std::size_t>(std::stoi(file.path.substr(8)));
            std::this_thread::sleep_for(std::chrono::microseconds(delays[index]));
            return [&, path = file.path] {
                order.push_back(path);
                ++delivered;
                return true;
            };
        });
        EXPECT_EQ(order, names);
        EXPECT_LE(widest, 4 * jobs + 1); // one more while a delivery runs
    }

    // A delivery that cannot go on ends the walk; so does a failure, when its turn comes.
    for (unsigned jobs : {1u, 4u}) {
        std::size_t calls = 0;
        dw::ImageWalk walk(names);
        dw::workInOrder(walk, jobs, [&](const dw::FoundFile&) -> dw::Delivery {
            return [&] { return ++calls < 10; };
        });
        EXPECT_EQ(calls, 10u);
        std::vector<std::string> before;
        dw::ImageWalk failing(names);
        EXPECT_THROW(dw::workInOrder(failing, jobs,
                                     [&](const dw::FoundFile& file) -> dw::Delivery {
                                         if (file.path == names[20])
                                             throw std::runtime_error("no");
                                         return [&, path = file.path] {
                                             before.push_back(path);
                                             return true;
                                         };
                                     }),
                     std::runtime_error);
        EXPECT_EQ(before, std::vector<std::string>(names.begin(), names.begin() + 20));
    }
}

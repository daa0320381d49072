#include "../../linux/modules/common/window_match.h"

#include <gtest/gtest.h>

TEST(WindowMatch, AValueIsReadAndWrittenAsTheWindowsPluginDoes) {
    WindowValue window{"Match: finale #2", "Jeu#Classe", "jeu:x"};
    std::string value = encode_window_value(window);
    EXPECT_EQ(value, "Match#3A finale #222:Jeu#22Classe:jeu#3Ax");
    auto read = parse_window_value(value.c_str());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->title, window.title);
    EXPECT_EQ(read->window_class, window.window_class);
    EXPECT_EQ(read->executable, window.executable);
    // All three parts or none; more are ignored, empty ones kept.
    EXPECT_FALSE(parse_window_value("Titre:classe"));
    EXPECT_FALSE(parse_window_value(nullptr));
    EXPECT_EQ(parse_window_value("::exe:plus")->executable, "exe");
}

TEST(WindowMatch, WindowsAreRatedByThePriorityTheSettingsGive) {
    WindowValue wanted{"Jeu", "jeu-classe", "jeu"};
    WindowValue same{"JEU", "Jeu-Classe", "JEU"};
    WindowValue other_title{"Menu", "jeu-classe", "jeu"};
    WindowValue other_program{"Jeu", "jeu-classe", "lanceur"};
    WindowValue other_class{"Jeu", "terminal", "jeu"};
    auto by_class = WindowPriority::window_class;
    auto by_executable = WindowPriority::executable;
    // By class: the class must match; the same title, then the same program, rate better.
    EXPECT_EQ(window_rating(wanted, same, by_class), 0);
    EXPECT_LT(window_rating(wanted, other_title, by_class),
              window_rating(wanted, other_program, by_class));
    EXPECT_EQ(window_rating(wanted, other_class, by_class), no_match);
    // By executable (the sound's): the program and the class must match, the title counts.
    EXPECT_EQ(window_rating(wanted, same, by_executable), 0);
    EXPECT_EQ(window_rating(wanted, other_title, by_executable), 1);
    EXPECT_EQ(window_rating(wanted, other_program, by_executable), no_match);
    EXPECT_EQ(window_rating(wanted, other_class, by_executable), no_match);
    // A class many programs share is matched by title alone.
    WindowValue browser{"Jeu", "Google-chrome", "chrome"};
    WindowValue other_tab{"Courriel", "Google-chrome", "chrome"};
    EXPECT_EQ(window_rating(browser, other_tab, by_class), no_match);
    EXPECT_EQ(window_rating(browser, WindowValue{"jeu", "", "autre"}, by_class), 0);
    EXPECT_FALSE(class_required(browser, by_class));
}

#pragma once
namespace teacher {
int selfplay_main(int argc, char** argv);
}

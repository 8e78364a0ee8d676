#pragma once
#include <gtest/gtest.h>
#include <QtWidgets>
#include <QTest>
#include <vector>
#include <string>
#include <cstdint>

library(testthat)
library(vadoset)

test_check("vadoset")

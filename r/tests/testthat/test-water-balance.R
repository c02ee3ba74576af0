records <- function() read_vadoset(sample_file("allsites_temp.txt"), sample_file("allsites_prec.txt"))

test_that("data frames, matrices, lists and single records give the same numbers", {
  x <- records()
  wb <- water_balance(x)
  # A data frame with month names and identifier columns, its columns shuffled.
  t_df <- data.frame(site = x$id, x$tmean, lat = x$lat)[, c(14, 1, 13:2)]
  p_df <- as.data.frame(x$prec)
  names(p_df) <- sprintf("prec_%02d", 1:12)
  from_df <- water_balance(t_df, p_df, x$lat)
  expect_identical(from_df$site, x$id)
  expect_identical(from_df$lat, x$lat)
  expect_identical(from_df$aet_total, wb$aet_total)
  expect_identical(from_df$snow_03, wb$snow_03)
  lst <- water_balance(x$tmean, x$prec, x$lat, as = "list")
  expect_identical(unname(lst$deficit[, 7]), wb$deficit_07)
  expect_identical(lst$null_reason, wb$null_reason)
  one <- water_balance(x$tmean[5, ], x$prec[5, ], x$lat[5])
  expect_identical(one$pet_total, wb$pet_total[5])
})

test_that("null rows say why, and their numbers are NA", {
  x <- records()
  x$tmean[3, 4] <- -9999
  x$prec[4, 1] <- 2^40
  x$lat[5] <- NA
  wb <- water_balance(x, field_capacity = c(100, 0, rep(100, nrow(x) - 2)))
  expected <- c(`2` = "field_capacity_invalid", `3` = "temperature_missing", `4` = "precipitation_missing",
                `5` = "latitude_invalid")
  expect_identical(as.character(wb$null_code[2:5]), unname(expected))
  expect_identical(wb$null_reason[3], "month 4 of the temperature file is missing")
  expect_true(all(is.na(unlist(wb[2:5, grep("^(pet|aet|soil)_", names(wb))]))))
  expect_identical(wb$null_reason[wb$id == "Vostok"], "the snowpack grows every year (perennial snow)")
  expect_true(all(is.na(wb$null_reason[!wb$null])))
  expect_identical(levels(wb$null_code), null_codes())
})

test_that("carry-over with sites runs one chain per site, wherever its rows lie", {
  s <- read_vadoset(sample_file("series_temp.txt"), sample_file("series_prec.txt"))
  one <- water_balance(s, carryover = TRUE)
  # Two copies of the series, their years interleaved, are two chains.
  both <- rbind(s$tmean, s$tmean)[rep(seq_len(nrow(s)), each = 2) + c(0, nrow(s)), ]
  pboth <- rbind(s$prec, s$prec)[rep(seq_len(nrow(s)), each = 2) + c(0, nrow(s)), ]
  site <- rep(c("a", "b"), nrow(s))
  two <- water_balance(both, pboth, s$lat[1], carryover = TRUE, site = site)
  expect_identical(two$soil_12[site == "b"], one$soil_12)
  expect_identical(two$aet_total[site == "a"], one$aet_total)
  # Without carry-over every year stands alone: a frozen January keeps the
  # soil water of its own December, not of the year before.
  alone <- water_balance(s)
  expect_false(identical(alone$soil_01, one$soil_01))
})

test_that("precipitation is used in whole millimetres unless the fraction is kept", {
  t <- matrix(15, 1, 12)
  p <- matrix(c(10.9, -0.5, rep(50.5, 10)), 1)
  wb <- water_balance(t, p, 45)
  expect_identical(unlist(wb[1, c("precip_01", "precip_02", "precip_03")], use.names = FALSE), c(10, 0, 50))
  expect_warning(kept <- water_balance(t, p, 45, keep_precipitation_fraction = TRUE), "is negative")
  expect_identical(kept$precip_03, 50.5)
})

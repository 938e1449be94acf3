select ':x', "a:b" from t -- :c
 where a = :tid /* :d */ and d = 'it''s :e'